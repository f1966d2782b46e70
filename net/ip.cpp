// The session thread and its command loop.
#include "net/cmdtable.h"
#include "net/sess.h"
#include "net/xferctx.h"
#include "platform/log.h"
#include "platform/memory.h"

void WaitForThreadEnd(const std::atomic<plat::ThreadHandle>& hThread)
{
    while (hThread.load() != nullptr)
        plat::SleepMs(1);
}

int Serve(CSess& sess)
{
    CXferCtx ctx;
    ctx.bReadOnly = sess.m_bReadOnly;
    ctx.pBudget = sess.m_pBudget;
    CmdLoop loop = CmdLoop::Main;
    int nResult;
    for (;;) {
        nResult = Receive(sess.m_Packet, sess);
        if (nResult != 0)
            break;
        const CmdEntry* pEntry = FindCommand(loop, sess.m_Packet.Command());
        if (pEntry == nullptr || pEntry->pfnHandler == nullptr)
            continue;  // unknown here: no reply, no message
        CmdNext next = pEntry->pfnHandler(sess, ctx);
        if (next == CmdNext::EndSession) {
            nResult = -1;
            break;
        }
        // A directory transaction never hands back to the main loop.
        if (next == CmdNext::EnterDirDown)
            loop = CmdLoop::DirDown;
        else if (next == CmdNext::EnterDirUp)
            loop = CmdLoop::DirUp;
    }
    ctx.ReleaseAtEnd();
    return nResult;
}

int STB_SessTask(void* pArg)
{
    CSess& sess = *static_cast<CSess*>(pArg);
    plat::ThreadSetMinTimerSlack();
    sess.m_nState = 3;
    plat::Trace("Sess(%lx) start...\n", sess.Id());
    int nResult = Serve(sess);
    sess.m_nEndResult = nResult;
    // A running copy or move uses this session's fields: the session may not be marked
    // finished before it ends, however the loop ended.
    if (sess.m_hOpThread != nullptr) {
        plat::ThreadJoin(sess.m_hOpThread);
        if (nResult < 0)
            plat::Trace("Teminate Thread\n");
        sess.m_hOpThread = nullptr;
        sess.m_nOpStatus = -1;
    }
    {
        std::lock_guard<std::mutex> lock(sess.m_SockLock);
        if (sess.m_hSock != plat::INVALID_SOCKET) {
            plat::SockShutdown(sess.m_hSock);
            plat::SockClose(sess.m_hSock);
            sess.m_hSock = plat::INVALID_SOCKET;
        }
    }
    sess.m_arrFiles.clear();     // a directory download's list, and its charge to the budget
    plat::ReleaseFreeMemory();  // what this session's transfers used goes back now
    plat::Trace("Sess(%lx) end...\n", sess.Id());
    sess.m_nState = -1;
    sess.m_hThread = nullptr;  // the last access to the session: it may be freed now
    return 0;
}
