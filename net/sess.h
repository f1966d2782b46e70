// One session per TCP connection: its frame link, its thread, its frame buffer and the
// fields of the directory transactions and of the copy/move worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/activity.h"
#include "net/filelist.h"
#include "net/link.h"
#include "net/packet.h"
#include "net/socklink.h"
#include "platform/shellop.h"
#include "platform/thread.h"

constexpr int kWaitTimeoutMs = 10000;  // silence allowed between frames
constexpr int kBodyTimeoutMs = 5000;   // each read of a frame's length and body
constexpr int kSendTimeoutMs = 30000;  // a frame the STB does not take within it ends the session

class CSess {
public:
    // A session over the TCP connection of the socket (INVALID_SOCKET: none).
    explicit CSess(plat::Socket hSock);
    // A session over another link (a memory link driven by a test or a fuzzer).
    explicit CSess(std::unique_ptr<CFrameLink> pLink);
    ~CSess();
    CSess(const CSess&) = delete;
    CSess& operator=(const CSess&) = delete;

    // Closes the connection from the server's side (a pending receive fails, so the
    // command loop ends), waits until the session thread has ended, and sets state 0.
    // Called on the accept thread.
    void Close();
    // The first half of Close: shuts the connection down without waiting, so that a
    // shutdown can stop every session at once and then wait for each in list order.
    void ShutdownByServer();
    // Releases the connection at the end of the session thread.
    void CloseLink();

    // What the command loop receives and sends through.
    CFrameLink& Link() { return *m_pLink; }

    // The session's identity in diagnostic lines.
    unsigned long Id() const { return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(this)); }

    CSess* m_pNext = nullptr;
    std::atomic<int> m_nState{1};
    uint64_t m_ullTotal = 0;
    std::string m_strBaseDir;
    CFileList m_arrFiles;  // charged to the manager's budget; emptied when the session ends
    std::atomic<plat::ThreadHandle> m_hThread{nullptr};
    CPacket m_Packet;
    std::mutex m_Mutex;                // guards the writes of m_nOpStatus
    std::atomic<int> m_nOpStatus{-1};  // -1 none, 2 running, 0 done, 1 failed
    plat::ThreadHandle m_hOpThread = nullptr;
    plat::CFileOp m_FileOp;            // the operation handed to the worker
    char m_szOpFrom[1024] = {};
    char m_szOpTo[1024] = {};

    // Receive time-outs; the daemon always uses the defaults, tests may shorten them.
    int m_nWaitTimeoutMs = kWaitTimeoutMs;
    int m_nBodyTimeoutMs = kBodyTimeoutMs;
    // The send time-out the manager gives the socket before the session starts.
    int m_nSendTimeoutMs = kSendTimeoutMs;
    // The peer's IPv4 address (host byte order), for the sessions-per-host count.
    uint32_t m_ulPeerAddr = 0;
    // When the STB connected (seconds since 1970), what the session is doing for the
    // status the user sees, and how the command loop ended (Serve's result), read by the
    // accept thread once the session has finished.
    int64_t m_llSince = 0;
    CSessActivity m_Activity;
    class CStatusBoard* m_pStatus = nullptr;  // the manager's, for the transfers' events
    int m_nEndResult = 0;

    // What the daemon's options allow this session, copied from the manager when the
    // session is made: nothing in the shared folder may change (read-only), and links
    // may lead out of the shared folder (wide links).
    bool m_bReadOnly = false;
    bool m_bWideLinks = false;
    // A user is at the desktop (the dialog runs): a copy or move may show its progress.
    bool m_bInteractive = false;
    // The code page the command line fixed for the STB's names (see CSessMan).
    bool m_bFixedCharset = false;
    std::string m_strCharset;
    // The budget that every session's transfer buffers draw from (owned by the manager;
    // null: no limit).
    class CBufferBudget* m_pBudget = nullptr;

    // Closing the connection belongs to the session thread once it runs; the accept
    // thread only shuts it down. The lock keeps the two from crossing.
    std::mutex m_SockLock;
    bool m_bShutByServer = false;  // guarded by m_SockLock

private:
    CSockLink m_SockLink;                 // the TCP connection, when the session has one
    std::unique_ptr<CFrameLink> m_pOwnLink;  // any other link
    CFrameLink* m_pLink;                  // the one of the two the session uses
};

// Waits, polling every millisecond, until a thread has cleared its handle field as its
// last act (the thread may be freed right after it, so nothing else can signal).
void WaitForThreadEnd(const std::atomic<plat::ThreadHandle>& hThread);

// The session thread: runs the command loop, then cleans up and marks the session
// finished. Its argument is the CSess. Returns 0.
int STB_SessTask(void* pArg);

// The command loop (CSessLoop) run to its end. 1 when the peer closed the connection,
// -1 when a receive failed or timed out or FC_SESS_CLOSE arrived.
int Serve(CSess& sess);

// What ends every session after its loop, on the thread that ran it: a running copy or
// move is awaited (it uses the session's fields), and the connection is released.
// nResult is the loop's.
void EndSession(CSess& sess, int nResult);
