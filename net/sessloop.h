// The command loop of one session, a frame at a time: the transfer context that lives
// as long as the connection, and the loop (main, or a directory transaction's) that
// serves the next frame. Serve runs it to the end on the session thread; a session over
// a memory link is stepped by its driver on the driver's own thread.
#pragma once

#include "net/cmdtable.h"
#include "net/xferctx.h"

class CSess;

class CSessLoop {
public:
    // The context takes the session's options (read-only, the buffer budget).
    explicit CSessLoop(CSess& sess);
    // Ends the loop if End was not called.
    ~CSessLoop() { End(); }
    CSessLoop(const CSessLoop&) = delete;
    CSessLoop& operator=(const CSessLoop&) = delete;

    // Receives one frame and hands it to its handler (a frame unknown in the current loop
    // gets no reply). 0 when the loop goes on; 1 when the peer closed the connection; -1
    // when a receive failed or timed out or FC_SESS_CLOSE arrived; kRecvIdle when the
    // link has nothing more yet (a link that never waits), what came of a frame kept.
    // After 1 or -1 the loop is over: call End.
    int Step();
    // Ends the loop: what the transfers hold is released (the buffer, the open file, an
    // unfinished upload's file). Once; later calls do nothing.
    void End();

    // The loop that serves the next frame.
    CmdLoop Loop() const { return m_eLoop; }
    CXferCtx& Ctx() { return m_Ctx; }

private:
    CSess& m_Sess;
    CXferCtx m_Ctx;
    CmdLoop m_eLoop = CmdLoop::Main;
    bool m_bEnded = false;
};
