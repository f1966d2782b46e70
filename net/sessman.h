// The session manager: the listening socket on port 2008, the accept thread that admits
// a connection (an allowed host, below the session caps) and turns it into a session with
// a thread of its own, the session list, and the shutdown in order.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "net/allowlist.h"
#include "net/budget.h"
#include "net/sess.h"
#include "net/statusboard.h"
#include "platform/socket.h"
#include "platform/thread.h"

constexpr uint16_t kStbPort = 2008;
constexpr int kListenBacklog = 5;
// Live sessions at once, of all hosts and of one host (one address). It takes 32 addresses
// at their cap to fill the daemon, so a few hosts that hold all they may still leave room
// for every other STB. A full daemon costs 256 threads, about 4 MiB resident and 1 GiB of
// address space beside the transfer budget (bench_hold).
constexpr int kMaxSessions = 256;
constexpr int kMaxSessionsPerHost = 8;

class CSessMan {
public:
    CSessMan() = default;
    ~CSessMan() { Destroy(); }
    CSessMan(const CSessMan&) = delete;
    CSessMan& operator=(const CSessMan&) = delete;

    // Opens the listener and starts the accept thread. 0, or -1 (sockets library),
    // -2 (socket), -3 (bind), -4 (listen), -5 (accept thread). Nothing is undone on
    // failure: the caller calls Destroy.
    int Create();
    // Closes the listener, closes every session in list order and waits for each, waits
    // for the accept thread, stops the sockets library. Safe to call more than once.
    void Destroy();

    // The accept loop; its argument is the manager. Returns 0.
    static int CorvaneTask(void* pArg);

    // Appends a new session for the socket of a peer of that address (host byte order);
    // null (list unchanged) when out of memory.
    CSess* AddSess(plat::Socket hSock, uint32_t ulPeerAddr);
    // Gives a new session the options below (time-outs, read-only, wide links, the code
    // page, the budget); every session gets them here, whatever its link.
    void ApplyOptions(CSess& sess);
    // Frees every session whose thread has ended.
    void ReapFinished();
    // Closes and frees every session.
    void RemoveAll();

    CSess* m_pHead = nullptr;
    std::atomic<int> m_nState{0};
    plat::Socket m_hServSock = plat::INVALID_SOCKET;
    std::atomic<plat::ThreadHandle> m_hThread{nullptr};

    // The options below are set before Create and not changed while the manager runs.
    // Where to listen (the daemon's --port; tests use port 0 for any free port), and on
    // which local IPv4 address (dotted; empty: every address).
    uint16_t m_usPort = kStbPort;
    std::string m_strListen;
    // Who may connect; any other peer is closed before a session exists.
    CAllowList m_Allow;
    // Caps on the live sessions: past either one a connection is closed at once.
    int m_nMaxSessions = kMaxSessions;
    int m_nMaxSessionsPerHost = kMaxSessionsPerHost;
    // Receive and send time-outs given to every new session (tests shorten them).
    int m_nWaitTimeoutMs = kWaitTimeoutMs;
    int m_nBodyTimeoutMs = kBodyTimeoutMs;
    int m_nSendTimeoutMs = kSendTimeoutMs;
    // What every new session may do: change nothing, follow links out of the folder.
    bool m_bReadOnly = false;
    bool m_bWideLinks = false;
    // A user is at the desktop (the dialog runs): copies and moves may show their progress
    // there. Off for the headless daemon, where no one could answer a window.
    bool m_bInteractive = false;
    // The STB's code page from the command line, which then wins over the stored one
    // (empty: names pass unchanged). Without it every session reads the stored code page
    // with the shared folder.
    bool m_bFixedCharset = false;
    std::string m_strCharset;
    // What the transfer buffers of all sessions together may hold (tests lower it).
    CBufferBudget m_Budget;
    // Sessions created so far; tests wait on it instead of sleeping.
    std::atomic<unsigned> m_nAccepted{0};
    // What the user sees of the sessions: the accept thread publishes a snapshot at each
    // wake (at least once a second) and records the events; any thread reads it.
    CStatusBoard m_Status;
    // The service manager's status line made from a snapshot (set before Create; without
    // it, the number of STBs).
    std::function<std::string(const CStatusSnapshot&)> m_fnServiceStatus;

private:
    void AcceptLoop();
    // True when a new connection from the peer may have a session; otherwise the
    // connection has been closed (a peer not allowed, or one past a cap).
    bool Admit(plat::Socket hSock, uint32_t ulPeerAddr);
    void Unlink(CSess* pSess);
    // Frees a session that has ended, its bytes and its end kept in the status.
    void Forget(CSess* pSess);
    // Publishes the live sessions to the status board.
    void PublishStatus();
};

// The daemon's one session manager.
extern CSessMan SessMan;
