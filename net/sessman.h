// The session manager: the listening socket on port 2008, the accept thread that turns
// every connection into a session with a thread of its own, the session list, and the
// shutdown in order.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/sess.h"
#include "platform/socket.h"
#include "platform/thread.h"

constexpr uint16_t kStbPort = 2008;
constexpr int kListenBacklog = 5;

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

    // Appends a new session for the socket; null (list unchanged) when out of memory.
    CSess* AddSess(plat::Socket hSock);
    // Frees every session whose thread has ended.
    void ReapFinished();
    // Closes and frees every session.
    void RemoveAll();

    CSess* m_pHead = nullptr;
    std::atomic<int> m_nState{0};
    plat::Socket m_hServSock = plat::INVALID_SOCKET;
    std::atomic<plat::ThreadHandle> m_hThread{nullptr};

    // Where to listen (the daemon's --port; tests use port 0 for any free port).
    uint16_t m_usPort = kStbPort;
    // Receive time-outs given to every new session (tests shorten them).
    int m_nWaitTimeoutMs = kWaitTimeoutMs;
    int m_nBodyTimeoutMs = kBodyTimeoutMs;
    // Sessions created so far; tests wait on it instead of sleeping.
    std::atomic<unsigned> m_nAccepted{0};

private:
    void AcceptLoop();
    void Unlink(CSess* pSess);
};

// The daemon's one session manager.
extern CSessMan SessMan;
