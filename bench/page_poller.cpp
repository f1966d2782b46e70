#include "page_poller.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/socket.h"

std::atomic<uint64_t> CPagePoller::s_ullPolls{0};
std::atomic<uint64_t> CPagePoller::s_ullFailures{0};

namespace {

constexpr int kTimeoutMs = 5000;

// GET strPath over a connection of its own; true for a whole 200 with a body.
bool ReadPage(uint16_t usPort, const char* pszPath)
{
    plat::Socket s = plat::SockConnect("127.0.0.1", usPort);
    if (s == plat::INVALID_SOCKET)
        return false;
    plat::SockSetRecvTimeout(s, kTimeoutMs);
    plat::SockSetSendTimeout(s, kTimeoutMs);
    const std::string strRequest =
        std::string("GET ") + pszPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    std::string strReply;
    bool bOk = plat::SockSendAll(s, strRequest.data(), strRequest.size()) == 0;
    char buf[16384];
    while (bOk) {
        const int n = plat::SockRecv(s, buf, sizeof(buf));
        if (n == 0)
            break;
        if (n < 0)
            bOk = false;
        else
            strReply.append(buf, static_cast<size_t>(n));
    }
    plat::SockClose(s);
    const size_t nBody = strReply.find("\r\n\r\n");
    return bOk && strReply.compare(0, 12, "HTTP/1.1 200") == 0 && nBody != std::string::npos &&
           nBody + 4 < strReply.size();
}

}  // namespace

CPagePoller::CPagePoller(uint16_t usPort, int nIntervalMs)
    : m_usPort(usPort), m_nIntervalMs(nIntervalMs), m_Thread([this] { Run(); })
{
}

CPagePoller::~CPagePoller()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bStop = true;
    }
    m_Wake.notify_all();
    m_Thread.join();
}

void CPagePoller::Run()
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    auto next = std::chrono::steady_clock::now();
    while (!m_bStop) {
        lock.unlock();
        for (const char* pszPath : {"/", "/metrics", "/status.json"}) {
            if (ReadPage(m_usPort, pszPath)) {
                s_ullPolls.fetch_add(1);
            } else {
                s_ullFailures.fetch_add(1);
                fprintf(stderr, "bench: the status page at 127.0.0.1:%u did not answer GET %s\n",
                        static_cast<unsigned>(m_usPort), pszPath);
            }
        }
        next += std::chrono::milliseconds(m_nIntervalMs);
        lock.lock();
        m_Wake.wait_until(lock, next, [this] { return m_bStop; });
    }
}
