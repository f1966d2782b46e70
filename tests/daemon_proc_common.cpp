// What the program starter does the same way on every platform.
#include <chrono>
#include <thread>

#include "tests/daemon_proc.h"
#include "tests/daemon_proc_wait.h"

#include "platform/socket.h"

namespace {

constexpr int kListenTries = 5;
constexpr auto kPollStep = std::chrono::milliseconds(1);

}  // namespace

uint16_t FreeLoopbackPort()
{
    plat::SockStartup();
    uint16_t port = 0;
    const plat::Socket s = plat::SockCreateTcp();
    if (s != plat::INVALID_SOCKET) {
        if (plat::SockBindLoopback(s, 0) == 0) {
            const int n = plat::SockLocalPort(s);
            port = n > 0 ? static_cast<uint16_t>(n) : 0;
        }
        plat::SockClose(s);
    }
    plat::SockCleanup();
    return port;
}

bool PollUntil(const std::function<bool()>& pred, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred())
            return true;
        std::this_thread::sleep_for(kPollStep);
    }
    return pred();
}

uint16_t CDaemonProcess::StartListening(std::vector<std::string> args, const char* pszAddr, const std::string& strCwd)
{
    args.insert(args.end(), {"--port", ""});
    for (int nTry = 0; nTry < kListenTries; ++nTry) {
        m_usPort = FreeLoopbackPort();
        if (m_usPort == 0) {
            m_strError = "no free loopback port";
            break;
        }
        args.back() = std::to_string(m_usPort);
        if (!Start(args, strCwd))
            break;
        if (WaitListening(m_usPort, pszAddr))
            return m_usPort;
        m_strError = m_strProgram + " did not accept a connection at " + pszAddr + ":" + std::to_string(m_usPort) +
                     (Exited(0) ? "; it ended with status " + std::to_string(ExitCode()) : " in time");
        Kill();
    }
    m_usPort = 0;
    return 0;
}

bool CDaemonProcess::WaitListening(uint16_t port, const char* pszAddr, int timeoutMs)
{
    const bool bListening = PollUntil([&] { return Exited(0) || Connects(pszAddr, port); }, timeoutMs);
    return bListening && !Exited(0);
}

int CDaemonProcess::TakeOutputPipe()
{
    const int fd = m_fdOutPipe;
    m_fdOutPipe = -1;
    return fd;
}
