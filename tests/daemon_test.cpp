// The real daemon binary, started with settings and runtime folders of its own.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/profile.h"
#include "tests/test_util.h"

extern char** environ;

namespace {

const std::string kVerReply("\xA5\x04\x00\xE1\x03\x04\x26", 7);

// One run of the daemon; its standard output and error go to files beside the share.
// A process still running at the end is killed.
class CDaemon {
public:
    CDaemon(const CTempShare& share, const std::string& strTag, std::vector<std::string> args,
            const std::string& strCwd = "")
        : m_strOut(share.Root() + "/" + strTag + ".out"), m_strErr(share.Root() + "/" + strTag + ".err")
    {
        std::vector<std::string> env{"XDG_CONFIG_HOME=" + share.Root() + "/cfg",
                                     "XDG_RUNTIME_DIR=" + share.Root() + "/run"};
        for (char** pp = environ; *pp != nullptr; ++pp)
            if (strncmp(*pp, "XDG_CONFIG_HOME=", 16) != 0 && strncmp(*pp, "XDG_RUNTIME_DIR=", 16) != 0)
                env.emplace_back(*pp);
        args.insert(args.begin(), CORVANE_BIN);
        std::vector<char*> argv, envp;
        for (auto& s : args)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        for (auto& s : env)
            envp.push_back(s.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, m_strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, m_strErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!strCwd.empty())
            posix_spawn_file_actions_addchdir_np(&actions, strCwd.c_str());
        int rc = posix_spawn(&m_pid, CORVANE_BIN, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0) << "cannot start " << CORVANE_BIN;
        if (rc != 0)
            m_pid = -1;
    }
    ~CDaemon()
    {
        if (m_pid > 0 && !Exited(0)) {
            kill(m_pid, SIGKILL);
            Exited(5000);
        }
    }

    // True once the daemon accepts connections on the port of the address (false if it
    // ended first).
    bool WaitReady(uint16_t port, const char* pszAddr = "127.0.0.1")
    {
        return WaitFor([&] { return CTestClient(port, nullptr, pszAddr).Connected() || Exited(0); }, 10000) &&
               !Exited(0);
    }
    pid_t Pid() const { return m_pid; }
    // True once the process has ended (its status is then in ExitCode()).
    bool Exited(int timeoutMs)
    {
        if (m_pid <= 0)
            return true;
        return WaitFor([&] { return m_bExited || (m_bExited = waitpid(m_pid, &m_nStatus, WNOHANG) == m_pid); },
                       timeoutMs);
    }
    int ExitCode() const { return m_bExited && WIFEXITED(m_nStatus) ? WEXITSTATUS(m_nStatus) : -1000 - m_nStatus; }
    void Signal(int nSig) const { kill(m_pid, nSig); }
    std::string Out() const { return ReadLocalFile(m_strOut); }
    std::string Err() const { return ReadLocalFile(m_strErr); }

private:
    std::string m_strOut, m_strErr;
    pid_t m_pid = -1;
    int m_nStatus = 0;
    bool m_bExited = false;
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void ExpectVersionReply(uint16_t port)
{
    CTestClient client(port);
    ASSERT_TRUE(client.Connected());
    client.SendFrame(0x11, "");
    EXPECT_EQ(client.RecvBytes(kVerReply.size()), kVerReply);
}

}  // namespace

TEST(Daemon, AnswersAndEndsCleanlyOnSignals)
{
    for (int nSig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(nSig);
        CTempShare share;
        uint16_t port = FreeLoopbackPort();
        // --quiet with SIGINT: not one diagnostic line.
        bool bQuiet = nSig == SIGINT;
        std::vector<std::string> args{"--headless", "--port", std::to_string(port)};
        if (bQuiet)
            args.push_back("--quiet");
        CDaemon daemon(share, "d", args);
        ASSERT_TRUE(daemon.WaitReady(port)) << daemon.Err();
        ExpectVersionReply(port);
        CTestClient open(port);  // a live session at shutdown
        open.SendFrame(0x11, "");
        ASSERT_EQ(open.RecvBytes(7), kVerReply);

        // The open session would hold the daemon for its 10 s wait if shutdown did not close it.
        daemon.Signal(nSig);
        ASSERT_TRUE(daemon.Exited(5000));
        EXPECT_EQ(daemon.ExitCode(), 0);
        EXPECT_TRUE(open.WaitClosed(0));
        if (bQuiet) {
            EXPECT_EQ(daemon.Out(), "");
        } else {
            EXPECT_TRUE(Contains(daemon.Out(), "accept(hServSock)=INVALID_SOCKET\n")) << daemon.Out();
        }
    }
}

TEST(Daemon, SecondCopyEndsAndTheFirstKeepsServing)
{
    CTempShare share;
    uint16_t port = FreeLoopbackPort();
    CDaemon first(share, "first", {"--headless", "--port", std::to_string(port)});
    ASSERT_TRUE(first.WaitReady(port)) << first.Err();

    CDaemon second(share, "second", {"--headless", "--port", std::to_string(FreeLoopbackPort())});
    ASSERT_TRUE(second.Exited(10000));
    EXPECT_NE(second.ExitCode(), 0);
    EXPECT_TRUE(Contains(second.Out(), "Corvane already exists...\n")) << second.Out();
    EXPECT_FALSE(first.Exited(0));
    ExpectVersionReply(port);
}

TEST(Daemon, TakenPortIsAWinsockError)
{
    CTempShare share;
    uint16_t takenPort = 0;
    int blocker = ListenLoopback(takenPort);
    ASSERT_GE(blocker, 0);
    CDaemon daemon(share, "d", {"--headless", "--port", std::to_string(takenPort)});
    ASSERT_TRUE(daemon.Exited(10000));
    EXPECT_EQ(daemon.ExitCode(), 1);
    EXPECT_TRUE(Contains(daemon.Err(), "WINSOCK ERROR\n")) << daemon.Err();
    close(blocker);
}

TEST(Daemon, ShareOptionStoresTheNormalisedFolder)
{
    CTempShare share;
    uint16_t port = FreeLoopbackPort();
    // Relative to the daemon's working folder, with a trailing '/'.
    CDaemon daemon(share, "d", {"--headless", "--share", "./share/", "--port", std::to_string(port)}, share.Root());
    ASSERT_TRUE(daemon.WaitReady(port)) << daemon.Err();
    EXPECT_EQ(IniValue(share.Root() + "/cfg/Corvane/corvane.ini", "Config", "Path"), share.Share());
}

TEST(Daemon, BadCommandLinesExitWithStatus2)
{
    CTempShare share;
    // Each with a part of the message that must name what is wrong.
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--bogus"}, "--bogus"},
        {{"--port"}, "--port"},
        {{"--port", "0"}, "--port"},
        {{"--port", "65536"}, "--port"},
        {{"--port", "12x"}, "--port"},
        {{"--share"}, "--share"},
        {{"--share", share.Root() + "/missing"}, "missing"},
        {{"--listen", "127.0.0"}, "--listen"},
        {{"--listen", "localhost"}, "--listen"},
        {{"--allow", "10.0.0.0/33"}, "--allow"},
        {{"--allow", "10.0.0.1,"}, "--allow"},
        {{"--allow"}, "--allow"},
        {{"--max-sessions", "0"}, "--max-sessions"},
        {{"--max-sessions-per-host", "x"}, "--max-sessions-per-host"},
    };
    for (const auto& [args, strNamed] : cases) {
        SCOPED_TRACE(args.back());
        std::vector<std::string> all{"--headless"};
        all.insert(all.end(), args.begin(), args.end());
        CDaemon daemon(share, "d", all);
        ASSERT_TRUE(daemon.Exited(10000));
        EXPECT_EQ(daemon.ExitCode(), 2) << daemon.Err();
        EXPECT_TRUE(Contains(daemon.Err(), strNamed)) << daemon.Err();
    }
}

// Each network option is read from the settings file, and the command line wins over it.
// The clients come from other loopback addresses, as other hosts would.
TEST(Daemon, SettingsFileOptionTakesEffectAndTheCommandLineWins)
{
    struct Case {
        const char* pszKey;
        const char* pszValue;
        std::vector<std::string> args;
        const char* pszFrom;     // the clients' address
        const char* pszTo;       // the address they connect to
        int nClients;            // all but the last are served
        bool bLastServed;
        const char* pszLine;     // a diagnostic line that must appear, or null
        const char* pszUnbound;  // an address the daemon must not listen on, or null
    };
    const Case cases[] = {
        {"Allow", "127.0.0.1", {}, "127.0.0.2", "127.0.0.1", 1, false, "refused 127.0.0.2\n", nullptr},
        {"Allow", "127.0.0.1", {"--allow", "all"}, "127.0.0.2", "127.0.0.1", 1, true, nullptr, nullptr},
        {"MaxSessionsPerHost", "1", {}, "127.0.0.3", "127.0.0.1", 2, false, "too many sessions from 127.0.0.3\n",
         nullptr},
        {"MaxSessionsPerHost", "1", {"--max-sessions-per-host", "2"}, "127.0.0.3", "127.0.0.1", 2, true, nullptr,
         nullptr},
        {"Listen", "127.0.0.2", {}, "127.0.0.1", "127.0.0.2", 1, true, nullptr, "127.0.0.1"},
        {"Listen", "127.0.0.2", {"--listen", "127.0.0.1"}, "127.0.0.1", "127.0.0.1", 1, true, nullptr, "127.0.0.2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszKey) + "=" + c.pszValue + (c.args.empty() ? "" : " " + c.args[0]));
        CTempShare share;
        std::filesystem::create_directories(share.Root() + "/cfg/Corvane");
        ASSERT_EQ(plat::IniWriteString(share.Root() + "/cfg/Corvane/corvane.ini", "Config", c.pszKey, c.pszValue), 0);
        const uint16_t port = FreeLoopbackPort();
        std::vector<std::string> args{"--headless", "--port", std::to_string(port)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        CDaemon daemon(share, "d", args);
        ASSERT_TRUE(daemon.WaitReady(port, c.pszTo)) << daemon.Err();
        std::vector<std::unique_ptr<CTestClient>> clients;
        for (int i = 0; i < c.nClients; ++i) {
            clients.push_back(std::make_unique<CTestClient>(port, c.pszFrom, c.pszTo));
            ASSERT_TRUE(clients.back()->Connected());
            const bool bServed = clients.back()->TrySend(MakeFrame(0x11, "")) &&
                                 clients.back()->RecvBytes(kVerReply.size()) == kVerReply;
            EXPECT_EQ(bServed, i + 1 < c.nClients || c.bLastServed) << "client " << i;
        }
        if (!c.bLastServed) {
            EXPECT_TRUE(clients.back()->WaitClosed());
        }
        if (c.pszUnbound != nullptr) {
            EXPECT_FALSE(CTestClient(port, nullptr, c.pszUnbound).Connected()) << "listening on " << c.pszUnbound;
        }
        if (c.pszLine != nullptr) {
            EXPECT_TRUE(WaitFor([&] { return Contains(daemon.Out(), c.pszLine); })) << daemon.Out();
        }
    }
}

// The daemon raises its own soft descriptor limit to the hard one: a limit lowered by the
// starting shell does not cap its sessions.
TEST(Daemon, SoftDescriptorLimitIsRaisedToTheHardOne)
{
    CTempShare share;
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    if (old.rlim_max < 128)
        GTEST_SKIP() << "hard descriptor limit " << old.rlim_max;
    const rlimit lowered{old.rlim_max / 2, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    const uint16_t port = FreeLoopbackPort();
    CDaemon daemon(share, "d", {"--headless", "--port", std::to_string(port)});
    setrlimit(RLIMIT_NOFILE, &old);  // the daemon took the lowered one with it
    ASSERT_TRUE(daemon.WaitReady(port)) << daemon.Err();
    // "Max open files            SOFT                 HARD                 files"
    std::istringstream limits(ReadLocalFile("/proc/" + std::to_string(daemon.Pid()) + "/limits"));
    std::string line, strSoft, strHard;
    while (std::getline(limits, line)) {
        if (line.rfind("Max open files", 0) == 0)
            std::istringstream(line.substr(14)) >> strSoft >> strHard;
    }
    EXPECT_EQ(strSoft, std::to_string(old.rlim_max));
    EXPECT_EQ(strHard, std::to_string(old.rlim_max));
}
