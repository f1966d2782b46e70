// The real daemon binary, started with settings and runtime folders of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <memory>
#include <sstream>
#include <system_error>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif
#include <vector>

#include "app/stbaddress.h"
#include "platform/profile.h"
#include "platform/socket.h"
#include "tests/daemon_proc.h"
#include "tests/test_bytes.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

void ExpectVersionReply(uint16_t port)
{
    CStbSession client(port);
    ASSERT_TRUE(client.Connected());
    EXPECT_TRUE(client.Version());
}

}  // namespace

TEST(Daemon, AnswersAndEndsCleanlyOnSignals)
{
    for (int nSig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(nSig);
        CTempShare share;
        // --quiet with SIGINT: not one diagnostic line, only where STBs reach the daemon
        // (on the one address it listens on).
        bool bQuiet = nSig == SIGINT;
        std::vector<std::string> args{"--headless"};
        if (bQuiet)
            args.insert(args.end(), {"--quiet", "--listen", "127.0.0.1"});
        CDaemonProcess daemon(share.Root(), "d");
        const uint16_t port = daemon.StartListening(args);
        ASSERT_NE(port, 0) << daemon.Error() << "\n" << daemon.Err();
        ExpectVersionReply(port);
        CStbSession open(port);  // a live session at shutdown
        ASSERT_TRUE(open.Version());

        // The open session would hold the daemon for its 10 s wait if shutdown did not close it.
#ifdef _WIN32
        if (!daemon.SendConsoleBreak())
            GTEST_SKIP() << "no console event reaches the child on this system (Wine sends none)";
#else
        daemon.Signal(nSig);
#endif
        ASSERT_TRUE(daemon.Exited(5000));
        EXPECT_EQ(daemon.ExitCode(), 0);
        EXPECT_TRUE(open.WaitClosed(0));
        if (bQuiet) {
            EXPECT_EQ(daemon.Out(), "STBs reach this computer at 127.0.0.1 port " + std::to_string(port) + "\n");
        } else {
            EXPECT_TRUE(Contains(daemon.Out(), "accept(hServSock)=INVALID_SOCKET\n")) << daemon.Out();
            // Every address but loopback, each with the port really listened on.
            EXPECT_TRUE(Contains(daemon.Out(), StbAddressLines(ListenAddresses(""), port))) << daemon.Out();
        }
    }
}

TEST(Daemon, SecondCopyEndsAndTheFirstKeepsServing)
{
    CTempShare share;
    CDaemonProcess first(share.Root(), "first");
    const uint16_t port = first.StartListening({"--headless"});
    ASSERT_NE(port, 0) << first.Error() << "\n" << first.Err();

    CDaemonProcess second(share.Root(), "second");
    ASSERT_TRUE(second.Start({"--headless", "--port", std::to_string(FreeLoopbackPort())})) << second.Error();
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
    CDaemonProcess daemon(share.Root(), "d");
    ASSERT_TRUE(daemon.Start({"--headless", "--port", std::to_string(takenPort)})) << daemon.Error();
    ASSERT_TRUE(daemon.Exited(10000));
    EXPECT_EQ(daemon.ExitCode(), 1);
    EXPECT_TRUE(Contains(daemon.Err(), "WINSOCK ERROR\n")) << daemon.Err();
    plat::SockClose(static_cast<plat::Socket>(blocker));
}

// --share stores one folder one way however it is written: absolute, without trailing
// separators (on Windows with its own '\' between the names).
TEST(Daemon, ShareOptionStoresTheNormalisedFolder)
{
    CTempShare share;
    // A settings file named, so that Windows too stores the folder in a file to read back.
    const std::string ini = share.Root() + "/d.ini";
    std::string stored = share.Share();
    // Relative to the daemon's working folder, with trailing separators.
    std::vector<std::string> spellings{"./share/", "./share//"};
#ifdef _WIN32
    std::replace(stored.begin(), stored.end(), '/', '\\');
    spellings.insert(spellings.end(), {".\\share\\", stored + "\\"});
#endif
    for (const std::string& spelling : spellings) {
        SCOPED_TRACE(spelling);
        std::error_code ec;
        std::filesystem::remove(LocalFsPath(ini), ec);
        CDaemonProcess daemon(share.Root(), "d");
        ASSERT_NE(daemon.StartListening({"--headless", "--config", ini, "--share", spelling}, "127.0.0.1", share.Root()), 0)
            << daemon.Error() << "\n"
            << daemon.Err();
        EXPECT_EQ(IniValue(ini, "Config", "Path"), stored);
    }
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
        CDaemonProcess daemon(share.Root(), "d");
        ASSERT_TRUE(daemon.Start(all)) << daemon.Error();
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
#ifdef _WIN32
    GTEST_SKIP() << "the per-user settings are the registry's, not a file in XDG_CONFIG_HOME";
#endif
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
        std::vector<std::string> args{"--headless"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        CDaemonProcess daemon(share.Root(), "d");
        const uint16_t port = daemon.StartListening(args, c.pszTo);
        ASSERT_NE(port, 0) << daemon.Error() << "\n" << daemon.Err();
        std::vector<std::unique_ptr<CStbSession>> clients;
        for (int i = 0; i < c.nClients; ++i) {
            clients.push_back(std::make_unique<CStbSession>(port, c.pszFrom, c.pszTo));
            ASSERT_TRUE(clients.back()->Connected());
            EXPECT_EQ(clients.back()->Version(), i + 1 < c.nClients || c.bLastServed) << "client " << i;
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
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no descriptor limit to raise";
#else
    CTempShare share;
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    if (old.rlim_max < 128)
        GTEST_SKIP() << "hard descriptor limit " << old.rlim_max;
    const rlimit lowered{old.rlim_max / 2, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    CDaemonProcess daemon(share.Root(), "d");
    const uint16_t port = daemon.StartListening({"--headless"});
    setrlimit(RLIMIT_NOFILE, &old);  // the daemon took the lowered one with it
    ASSERT_NE(port, 0) << daemon.Error() << "\n" << daemon.Err();
    // "Max open files            SOFT                 HARD                 files"
    std::istringstream limits(ReadLocalFile("/proc/" + std::to_string(daemon.Pid()) + "/limits"));
    std::string line, strSoft, strHard;
    while (std::getline(limits, line)) {
        if (line.rfind("Max open files", 0) == 0)
            std::istringstream(line.substr(14)) >> strSoft >> strHard;
    }
    EXPECT_EQ(strSoft, std::to_string(old.rlim_max));
    EXPECT_EQ(strHard, std::to_string(old.rlim_max));
#endif
}
