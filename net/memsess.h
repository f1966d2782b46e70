// A session served over a memory link on the caller's own thread: what a test or a
// fuzzer pushes is the STB's stream, the command loop runs until that is used up, and
// what the session wrote waits in the link to be taken. No thread, no time-out, no port;
// only a copy or move runs on its worker, as in any session.
#pragma once

#include <cstddef>
#include <optional>

#include "net/memlink.h"
#include "net/sess.h"
#include "net/sessloop.h"

class CMemSession {
public:
    CMemSession();
    // Closes the session if it still runs.
    ~CMemSession() { Close(); }
    CMemSession(const CMemSession&) = delete;
    CMemSession& operator=(const CMemSession&) = delete;

    // The session, whose options (read-only, wide links, code page, budget, ...) are set
    // before the first Push.
    CSess& Sess() { return m_Sess; }
    // The STB's side of the link: what the session wrote (Unread, Take).
    CMemLink& Link() { return *m_pLink; }

    // Appends the bytes to what the STB sent and runs the command loop until they are
    // used up or the session ends. False, the bytes dropped, when the session has ended
    // before (as a closed connection refuses them).
    bool Push(const void* pBytes, size_t nCount);
    // The STB closes the connection: the loop takes what is left and ends, and the
    // session ends as the session thread ends one (a running copy or move awaited, the
    // link released). The loop's result (Serve's meaning); the same again once ended.
    int Close();

    bool Ended() const { return m_bEnded; }
    // The loop that serves the next frame.
    CmdLoop Loop() const { return m_Loop ? m_Loop->Loop() : CmdLoop::Main; }
    // True while bytes wait that do not make a whole frame yet.
    bool FramePending() const { return m_pLink->Unreceived() != 0 || m_Sess.m_Packet.m_nSize != 0; }

private:
    // Steps the loop until the link has nothing more or the session ends.
    void Run();

    CMemLink* m_pLink = nullptr;  // owned by m_Sess (declared first: m_Sess sets it)
    CSess m_Sess;
    std::optional<CSessLoop> m_Loop;  // made at the first Push, once the options are set
    int m_nResult = 0;
    bool m_bEnded = false;
};
