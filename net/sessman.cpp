#include "net/sessman.h"

#include <new>

#include "net/protocol.h"
#include "net/servicepulse.h"
#include "platform/log.h"

CSessMan SessMan;

// After a passing accept failure (out of descriptors, say) the loop waits this long
// before it accepts again, instead of spinning on the same failure.
constexpr int kAcceptRetryMs = 100;
// How often a quiet accept thread frees the sessions that have ended.
constexpr int kReapIntervalMs = 1000;

int CSessMan::Create()
{
    if (plat::SockStartup() != 0) {
        plat::Trace("WSAStartup()!=0\n");
        return -1;
    }
    m_nState = 1;
    m_hServSock = plat::SockCreateTcp();
    if (m_hServSock == plat::INVALID_SOCKET) {
        plat::Trace("socket()=INVALID_SOCKET\n");
        return -2;
    }
    m_nState = 2;
    plat::SockSetReuseAddr(m_hServSock);
    const int nBind = m_strListen.empty() ? plat::SockBindAny(m_hServSock, m_usPort)
                                          : plat::SockBindAddr(m_hServSock, m_strListen.c_str(), m_usPort);
    if (nBind != 0) {
        plat::Trace("bind(m_hServSock)=SOCKET_ERROR\n");
        return -3;
    }
    m_nState = 3;
    if (plat::SockListen(m_hServSock, kListenBacklog) != 0) {
        plat::Trace("listen(m_hServSock)=SOCKET_ERROR\n");
        return -4;
    }
    m_nState = 4;
    // accept returns every so often without a connection, so that a quiet daemon still
    // frees the sessions that have ended and gives their memory back.
    plat::SockSetRecvTimeout(m_hServSock, kReapIntervalMs);
    plat::ThreadHandle h = plat::ThreadCreateSuspended(&CSessMan::CorvaneTask, this, false);
    m_hThread = h;
    if (h == nullptr) {
        plat::Trace("CreateThread(CorvaneTask)=NULL\n");
        return -5;
    }
    m_nState = 5;
    plat::ThreadSetAboveNormal(h);
    plat::ThreadResume(h);
    return 0;
}

void CSessMan::Destroy()
{
    if (m_nState <= 0)
        return;
    if (m_hServSock != plat::INVALID_SOCKET) {
        // Shutting the listener down makes the pending accept fail at once; the socket
        // itself is closed once the accept thread is gone, so that no other socket can
        // take its number while the thread still uses it.
        plat::SockShutdown(m_hServSock);
        WaitForThreadEnd(m_hThread);
        plat::SockClose(m_hServSock);
        m_hServSock = plat::INVALID_SOCKET;
    }
    WaitForThreadEnd(m_hThread);
    plat::SockCleanup();
    m_nState = 0;
}

int CSessMan::CorvaneTask(void* pArg)
{
    static_cast<CSessMan*>(pArg)->AcceptLoop();
    return 0;
}

void CSessMan::AcceptLoop()
{
    m_nState = 6;
    plat::Trace("CorvaneTask() start...\n");
    // The service manager hears from this thread at each wake: a hung accept loop stops
    // the watchdog's pings. Right after reaping, the list holds the live sessions.
    CServicePulse pulse;
    const auto TellService = [this, &pulse] {
        PublishStatus();
        const CStatusSnapshot snap = m_Status.Snapshot();
        pulse.Tick(m_fnServiceStatus ? m_fnServiceStatus(snap) : SessionCountText(static_cast<int>(snap.stbs.size())));
    };
    for (;;) {
        plat::Trace("Wait...\n");
        plat::AcceptError eError;
        uint32_t ulPeer = 0;
        plat::Socket hSock = plat::SockAccept(m_hServSock, &eError, &ulPeer);
        while (hSock == plat::INVALID_SOCKET && eError == plat::AcceptError::TimedOut) {
            ReapFinished();
            TellService();
            hSock = plat::SockAccept(m_hServSock, &eError, &ulPeer);
        }
        if (hSock == plat::INVALID_SOCKET) {
            if (eError == plat::AcceptError::Closed)
                break;
            // Out of descriptors or memory, or a connection aborted before it was taken:
            // the listener is still good, so try again shortly.
            plat::Trace("accept(hServSock) failed, retrying\n");
            plat::SleepMs(kAcceptRetryMs);
            continue;
        }
        if (!Admit(hSock, ulPeer))
            continue;
        plat::SockSetReuseAddr(hSock);
        plat::SockSetNoDelay(hSock);
        CSess* pSess = AddSess(hSock, ulPeer);
        if (pSess == nullptr) {
            plat::Trace("Cannot create a new sess\n");
            plat::SockClose(hSock);  // no session will ever serve it
        } else {
            plat::Trace("NEW sess\n");
            m_nAccepted.fetch_add(1);
            m_Status.CountSession();
            m_Status.AddEvent(StatusEventKind::Connected, ulPeer, std::string());
            // A peer that stops reading cannot hold the session in a frame's send for
            // longer, however its window opens a crack now and then.
            plat::SockSetSendTimeout(hSock, pSess->m_nSendTimeoutMs);
            plat::ThreadHandle h =
                plat::ThreadCreateSuspended(STB_SessTask, pSess, false, plat::kSessionStackBytes);
            pSess->m_hThread = h;  // stored before the thread can run: it clears it at its end
            if (h != nullptr) {
                pSess->m_nState = 2;
                plat::ThreadSetAboveNormal(h);
                plat::ThreadResume(h);
            } else {
                plat::Trace("CreateThread(STB_SessTask)=NULL\n");
                plat::Trace("Cannot open the sess(%lx)\n", pSess->Id());
                Unlink(pSess);
                delete pSess;  // its destructor closes the connection
            }
        }
        ReapFinished();
        TellService();
    }
    plat::Trace("accept(hServSock)=INVALID_SOCKET\n");
    RemoveAll();
    m_nState = 7;
    m_hThread = nullptr;  // the thread's last access to the manager
}

static bool IsFinished(const CSess* pSess) { return pSess->m_nState == -1 && pSess->m_hThread.load() == nullptr; }

bool CSessMan::Admit(plat::Socket hSock, uint32_t ulPeerAddr)
{
    char szPeer[kIPv4TextBytes];
    FormatIPv4(ulPeerAddr, szPeer);
    if (!m_Allow.Allows(ulPeerAddr)) {
        plat::Trace("refused %s\n", szPeer);
        plat::SockClose(hSock);
        m_Status.CountRefused(false);
        m_Status.AddEvent(StatusEventKind::Refused, ulPeerAddr, "not in the allow-list");
        return false;
    }
    // Only sessions still running count: the ended ones go first.
    ReapFinished();
    int nLive = 0, nFromPeer = 0;
    for (const CSess* p = m_pHead; p != nullptr; p = p->m_pNext) {
        if (IsFinished(p))
            continue;
        ++nLive;
        if (p->m_ulPeerAddr == ulPeerAddr)
            ++nFromPeer;
    }
    if (nLive >= m_nMaxSessions || nFromPeer >= m_nMaxSessionsPerHost) {
        plat::Trace("too many sessions from %s\n", szPeer);
        plat::SockClose(hSock);
        m_Status.CountRefused(true);
        m_Status.AddEvent(StatusEventKind::Refused, ulPeerAddr, "too many sessions");
        return false;
    }
    return true;
}

CSess* CSessMan::AddSess(plat::Socket hSock, uint32_t ulPeerAddr)
{
    CSess* pSess = new (std::nothrow) CSess(hSock);
    if (pSess == nullptr)
        return nullptr;
    pSess->m_ulPeerAddr = ulPeerAddr;
    pSess->m_llSince = StatusClockNow();
    pSess->m_pStatus = &m_Status;
    ApplyOptions(*pSess);
    if (m_pHead == nullptr) {
        m_pHead = pSess;
    } else {
        CSess* pTail = m_pHead;
        while (pTail->m_pNext != nullptr)
            pTail = pTail->m_pNext;
        pTail->m_pNext = pSess;
    }
    return pSess;
}

void CSessMan::ApplyOptions(CSess& sess)
{
    sess.m_nWaitTimeoutMs = m_nWaitTimeoutMs;
    sess.m_nBodyTimeoutMs = m_nBodyTimeoutMs;
    sess.m_nSendTimeoutMs = m_nSendTimeoutMs;
    sess.m_bReadOnly = m_bReadOnly;
    sess.m_bWideLinks = m_bWideLinks;
    sess.m_bInteractive = m_bInteractive;
    sess.m_bFixedCharset = m_bFixedCharset;
    sess.m_strCharset = m_strCharset;
    sess.m_pBudget = &m_Budget;
    sess.m_arrFiles.SetBudget(&m_Budget);
}

void CSessMan::Unlink(CSess* pSess)
{
    if (m_pHead == pSess) {
        m_pHead = pSess->m_pNext;
        return;
    }
    for (CSess* p = m_pHead; p != nullptr; p = p->m_pNext) {
        if (p->m_pNext == pSess) {
            p->m_pNext = pSess->m_pNext;
            return;
        }
    }
}

void CSessMan::ReapFinished()
{
    if (m_pHead == nullptr)
        return;
    CSess* pPrev = m_pHead;
    while (pPrev->m_pNext != nullptr) {
        CSess* p = pPrev->m_pNext;
        if (IsFinished(p)) {
            pPrev->m_pNext = p->m_pNext;
            Forget(p);
        } else {
            pPrev = p;
        }
    }
    if (IsFinished(m_pHead)) {
        CSess* p = m_pHead;
        m_pHead = p->m_pNext;
        Forget(p);
    }
}

void CSessMan::Forget(CSess* pSess)
{
    const CActivityView view = pSess->m_Activity.Read();
    m_Status.AddEnded(view.ullSent, view.ullReceived);
    m_Status.AddEvent(StatusEventKind::Disconnected, pSess->m_ulPeerAddr,
                      pSess->m_nEndResult == 1 ? "closed by the STB" : "ended");
    delete pSess;
}

void CSessMan::PublishStatus()
{
    std::vector<CStbStatus> stbs;
    for (const CSess* p = m_pHead; p != nullptr; p = p->m_pNext) {
        if (IsFinished(p))
            continue;
        CStbStatus stb;
        stb.ulId = p->Id();
        stb.ulPeerAddr = p->m_ulPeerAddr;
        stb.llSince = p->m_llSince;
        stb.activity = p->m_Activity.Read();
        // A copy or move is over once its worker has set its status, whether or not the
        // STB has asked for it yet.
        const StbActivity e = stb.activity.eActivity;
        if ((e == StbActivity::Copying || e == StbActivity::Moving) && p->m_nOpStatus.load() != kStatusRunning)
            stb.activity.eActivity = StbActivity::Idle;
        stbs.push_back(std::move(stb));
    }
    m_Status.Publish(std::move(stbs));
}

void CSessMan::RemoveAll()
{
    // Every connection is shut down first, so that the sessions end side by side; then
    // each is awaited and freed in list order. A thousand sessions end in moments.
    for (CSess* p = m_pHead; p != nullptr; p = p->m_pNext)
        p->ShutdownByServer();
    while (m_pHead != nullptr) {
        CSess* p = m_pHead;
        p->Close();
        m_pHead = p->m_pNext;
        delete p;
    }
}
