// What the daemon tells the people and the service manager around it: the lines that name
// where STBs reach it, and systemd's notify protocol (ready, the status line, the
// watchdog's pings, stopping).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>
#ifndef _WIN32
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "app/stbaddress.h"
#include "net/protocol.h"
#include "net/servicepulse.h"
#include "platform/netif.h"
#include "tests/daemon_proc.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

using namespace std::chrono_literals;

TEST(StbAddress, OneLineForEachAddressAndOneForNone)
{
    struct Case {
        std::vector<uint32_t> addrs;
        uint16_t usPort;
        const char* pszText;
    };
    const Case cases[] = {
        {{}, 2008, "STBs cannot reach this computer yet: it has no network address but loopback (port 2008)\n"},
        {{0xC0A80117}, 2008, "STBs reach this computer at 192.168.1.23 port 2008\n"},
        {{0xC0A80117, 0x0A000005},
         40123,
         "STBs reach this computer at 192.168.1.23 port 40123\nSTBs reach this computer at 10.0.0.5 port 40123\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StbAddressLines(c.addrs, c.usPort), c.pszText);

    // --listen names its one address; without it (or with 0.0.0.0, every address) the
    // computer's own, loopback left out.
    EXPECT_EQ(ListenAddresses("192.168.1.23"), std::vector<uint32_t>{0xC0A80117});
    std::vector<uint32_t> local;
    ASSERT_EQ(plat::ListLocalIPv4(local), 0);
    EXPECT_EQ(ListenAddresses(""), local);
    EXPECT_EQ(ListenAddresses("0.0.0.0"), local);
}

TEST(ServicePulse, PingsAtHalfTheWatchdogAndSendsAChangedStatusAtMostOnceASecond)
{
    constexpr int W = CServicePulse::kSentWatchdog, S = CServicePulse::kSentStatus;
    struct Step {
        int nMs;
        const char* pszStatus;
        int nSent;
    };
    const Step steps[] = {
        {0, "0 STBs", W | S},  // the first wake sends both
        {400, "1 STB", 0},     // a change within the second is held back
        {1000, "1 STB", S},    // and goes out once the second has passed
        {1499, "1 STB", 0},
        {1500, "1 STB", W},  // half the interval since the last ping
        {2600, "1 STB", 0},  // nothing new
        {3000, "2 STBs", W | S},
        {3100, "1 STB", 0},
        {3900, "2 STBs", 0},  // back to the line last sent: nothing to send
        {4600, "2 STBs", W},
    };
    const auto t0 = CServicePulse::Clock::now();
    CServicePulse pulse(3000ms);
    CServicePulse unwatched(0ms);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.nMs);
        const auto now = t0 + std::chrono::milliseconds(step.nMs);
        EXPECT_EQ(pulse.Tick(step.pszStatus, now), step.nSent);
        EXPECT_EQ(unwatched.Tick(step.pszStatus, now) & W, 0);  // no watchdog, no pings
    }
    EXPECT_EQ(SessionCountText(0), "0 STBs");
    EXPECT_EQ(SessionCountText(1), "1 STB");
    EXPECT_EQ(SessionCountText(64), "64 STBs");
}

#ifndef _WIN32
namespace {

// A datagram socket such as systemd listens on for a service's messages (NOTIFY_SOCKET),
// bound to a path; it keeps every line of every message in the order they arrived.
class CNotifySocket {
public:
    explicit CNotifySocket(const std::string& strPath) : m_strPath(strPath)
    {
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        if (strPath.size() >= sizeof(sa.sun_path))
            return;
        strPath.copy(sa.sun_path, strPath.size());
        m_nFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_nFd >= 0 && bind(m_nFd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
            close(m_nFd);
            m_nFd = -1;
        }
    }
    ~CNotifySocket()
    {
        if (m_nFd >= 0) {
            close(m_nFd);
            unlink(m_strPath.c_str());
        }
    }
    CNotifySocket(const CNotifySocket&) = delete;
    CNotifySocket& operator=(const CNotifySocket&) = delete;

    bool Ok() const { return m_nFd >= 0; }
    // Waits for the line, looking only at lines after the one the last successful wait
    // found; false when the deadline passes first.
    bool WaitLine(const std::string& strLine, std::chrono::steady_clock::time_point deadline)
    {
        for (;;) {
            for (; m_nNext < m_lines.size(); ++m_nNext) {
                if (m_lines[m_nNext] == strLine) {
                    ++m_nNext;
                    return true;
                }
            }
            pollfd p{m_nFd, POLLIN, 0};
            if (poll(&p, 1, RemainingMs(deadline)) <= 0)
                return false;
            char buf[4096];
            const ssize_t n = recv(m_nFd, buf, sizeof(buf), 0);
            if (n < 0)
                return false;
            size_t nStart = 0;
            const std::string strMessage(buf, static_cast<size_t>(n));
            for (size_t nEnd; (nEnd = strMessage.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1)
                m_lines.push_back(strMessage.substr(nStart, nEnd - nStart));
            if (nStart < strMessage.size())
                m_lines.push_back(strMessage.substr(nStart));
        }
    }
    // Every line so far, for the failure messages.
    std::string Lines() const
    {
        std::string strAll;
        for (const std::string& s : m_lines)
            strAll += s + "\n";
        return strAll;
    }

private:
    std::string m_strPath;
    int m_nFd = -1;
    std::vector<std::string> m_lines;
    size_t m_nNext = 0;
};

// An environment variable of this process, which the daemon started meanwhile inherits,
// for one scope.
class CEnvForChild {
public:
    CEnvForChild(const char* pszName, const std::string& strValue) : m_pszName(pszName)
    {
        setenv(pszName, strValue.c_str(), 1);
    }
    ~CEnvForChild() { unsetenv(m_pszName); }
    CEnvForChild(const CEnvForChild&) = delete;
    CEnvForChild& operator=(const CEnvForChild&) = delete;

private:
    const char* m_pszName;
};

}  // namespace
#endif

TEST(ServiceNotify, DaemonSaysReadyThenNamesItsSessionsAndTheirTransferAndPingsTheWatchdog)
{
#ifdef _WIN32
    GTEST_SKIP() << "no service manager listens on a notify socket on Windows";
#else
    CTempShare share;
    CNotifySocket notify(share.Root() + "/notify");
    ASSERT_TRUE(notify.Ok());
    ASSERT_EQ(getenv("NOTIFY_SOCKET"), nullptr);
    CDaemonProcess daemon(share.Root(), "d");
    const uint16_t port = FreeLoopbackPort();
    {
        // A watchdog of 2 s: a ping every second.
        CEnvForChild socketEnv("NOTIFY_SOCKET", share.Root() + "/notify");
        CEnvForChild watchdogEnv("WATCHDOG_USEC", "2000000");
        ASSERT_TRUE(daemon.Start({"--headless", "--quiet", "--share", share.Share(), "--port", std::to_string(port)}))
            << daemon.Error();
    }
    const auto deadline = [] { return std::chrono::steady_clock::now() + 10s; };
    // Ready: the listener takes connections from then on (no connection was tried before).
    ASSERT_TRUE(notify.WaitLine("READY=1", deadline())) << notify.Lines() << daemon.Err();
    {
        CStbSession stb(port);
        ASSERT_TRUE(stb.Version());
        EXPECT_TRUE(notify.WaitLine("STATUS=1 STB", deadline())) << notify.Lines();
        EXPECT_TRUE(notify.WaitLine("WATCHDOG=1", deadline())) << notify.Lines();
        // A transfer under way is named, with how far it has come.
        ASSERT_EQ(stb.UploadOpen(FC_FILE_UP_REQ, 100000, "/up.ts"), 0);
        ASSERT_EQ(stb.UploadBlock(FC_DATA_UP_REQ, 0, std::string(43000, 'u')), 43000u);
        EXPECT_TRUE(notify.WaitLine("STATUS=1 STB; receiving up.ts 43 %", deadline())) << notify.Lines();
    }
    EXPECT_TRUE(notify.WaitLine("STATUS=0 STBs", deadline())) << notify.Lines();
    EXPECT_EQ(daemon.Stop(), 0);
    EXPECT_TRUE(notify.WaitLine("STOPPING=1", deadline())) << notify.Lines();
#endif
}
