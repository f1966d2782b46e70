// The session thread and its command loop.
#include "net/cmdtable.h"
#include "net/sess.h"
#include "net/sessloop.h"
#include "net/xferctx.h"
#include "platform/log.h"
#include "platform/memory.h"

void WaitForThreadEnd(const std::atomic<plat::ThreadHandle>& hThread)
{
    while (hThread.load() != nullptr)
        plat::SleepMs(1);
}

CSessLoop::CSessLoop(CSess& sess) : m_Sess(sess)
{
    m_Ctx.bReadOnly = sess.m_bReadOnly;
    m_Ctx.pBudget = sess.m_pBudget;
}

int CSessLoop::Step()
{
    const int nReceived = Receive(m_Sess.m_Packet, m_Sess);
    if (nReceived != 0)
        return nReceived;
    const CmdEntry* pEntry = FindCommand(m_eLoop, m_Sess.m_Packet.Command());
    if (pEntry == nullptr || pEntry->pfnHandler == nullptr)
        return 0;  // unknown here: no reply, no message
    const CmdNext next = pEntry->pfnHandler(m_Sess, m_Ctx);
    if (next == CmdNext::EndSession)
        return -1;
    // A directory transaction never hands back to the main loop.
    if (next == CmdNext::EnterDirDown)
        m_eLoop = CmdLoop::DirDown;
    else if (next == CmdNext::EnterDirUp)
        m_eLoop = CmdLoop::DirUp;
    return 0;
}

void CSessLoop::End()
{
    if (m_bEnded)
        return;
    m_bEnded = true;
    m_Ctx.ReleaseAtEnd();
}

int Serve(CSess& sess)
{
    CSessLoop loop(sess);
    int nResult;
    while ((nResult = loop.Step()) == 0) {
    }
    loop.End();
    // A connection's receive never comes back idle: it waits until its time-out.
    return nResult == kRecvIdle ? -1 : nResult;
}

void EndSession(CSess& sess, int nResult)
{
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
    sess.CloseLink();
    sess.m_arrFiles.clear();  // a directory download's list, and its charge to the budget
}

int STB_SessTask(void* pArg)
{
    CSess& sess = *static_cast<CSess*>(pArg);
    plat::ThreadSetMinTimerSlack();
    sess.m_nState = 3;
    plat::Trace("Sess(%lx) start...\n", sess.Id());
    EndSession(sess, Serve(sess));
    plat::ReleaseFreeMemory();  // what this session's transfers used goes back now
    plat::Trace("Sess(%lx) end...\n", sess.Id());
    sess.m_nState = -1;
    sess.m_hThread = nullptr;  // the last access to the session: it may be freed now
    return 0;
}
