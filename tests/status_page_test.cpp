// The real daemon's status page as the people around it meet it: a browser that loads it
// while an STB downloads, hosts that try to change something or are not allowed,
// Prometheus' own checker on /metrics, and `corvane --status`; and where the page is
// served (--status-listen, the settings file, the default).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "app/corvaneapp.h"
#include "app/settings.h"
#include "app/status/statusjson.h"
#include "app/status/statuslisten.h"
#include "net/protocol.h"
#include "platform/profile.h"
#include "platform/socket.h"
#include "tests/daemon_proc.h"
#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

// Debian's packages, installed by scripts/deps.
constexpr const char* kChromium = "/usr/bin/chromium";
constexpr const char* kPromtool = "/usr/bin/promtool";

constexpr uint64_t kMiB = 1 << 20;

// The whole reply to one request sent from the local address pszFrom; empty when the
// connection was closed without one.
std::string HttpExchange(uint16_t port, const std::string& strRequest, const char* pszFrom = "127.0.0.1")
{
    CTestClient client(port, pszFrom);
    if (!client.Connected() || !client.TrySend(strRequest))
        return "";
    return client.RecvBytes(8 * kMiB, 10000);
}

std::string Request(const std::string& strMethod, const std::string& strPath)
{
    return strMethod + " " + strPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

std::string BodyOf(const std::string& strReply)
{
    const size_t n = strReply.find("\r\n\r\n");
    return n == std::string::npos ? std::string() : strReply.substr(n + 4);
}

// Runs a program to its end (a minute at most): its exit status, output and errors.
struct CRun {
    int nExit = -1;
    std::string strOut, strErr;
};
CRun RunProgram(const std::string& strFolder, const std::string& strProgram, const std::vector<std::string>& args)
{
    static int s_nRun = 0;
    CDaemonProcess proc(strFolder, "run-" + std::to_string(++s_nRun), strProgram);
    CRun run;
    if (!proc.Start(args)) {
        ADD_FAILURE() << strProgram << ": " << proc.Error() << " (scripts/deps installs it)";
        return run;
    }
    if (!proc.Exited(60000))
        ADD_FAILURE() << strProgram << " did not end";
    run.nExit = proc.ExitCode();
    run.strOut = proc.Out();
    run.strErr = proc.Err();
    return run;
}

// The page as headless Chromium has it once loaded, its scripts run: the document's DOM.
std::string Browse(const std::string& strFolder, const std::string& strUrl)
{
    static int s_nProfile = 0;
    const std::string strProfile = strFolder + "/chromium-" + std::to_string(++s_nProfile);
    std::filesystem::create_directories(strProfile);
    const CRun run = RunProgram(strFolder, kChromium,
                                {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                                 "--user-data-dir=" + strProfile, "--dump-dom", strUrl});
    EXPECT_EQ(run.nExit, 0) << run.strErr;
    return run.strOut;
}

// The row of the STB table that says what the STB at the address is doing, as the DOM has it.
std::string StbRow(const std::string& strDom, const std::string& strDoing)
{
    for (size_t n = strDom.find("<tr class=\"stb\">"); n != std::string::npos;
         n = strDom.find("<tr class=\"stb\">", n + 1)) {
        const std::string strRow = strDom.substr(n, strDom.find("</tr>", n) - n);
        if (Contains(strRow, strDoing))
            return strRow;
    }
    return "";
}

// The value of the row's progress bar; -1 without one.
int ProgressValue(const std::string& strRow)
{
    const std::string strMark = "<progress max=\"100\" value=\"";
    const size_t n = strRow.find(strMark);
    return n == std::string::npos ? -1 : atoi(strRow.c_str() + n + strMark.size());
}

// The real daemon with its page on a free loopback port. Only 127.0.0.1 is allowed, so
// that 127.0.0.2, this computer too, is a host outside the list.
class DaemonStatusPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeSparse(share.Path("rec.ts"), 8 * kMiB, {});
        // A free port may be taken before the daemon binds it: then another.
        for (int nTry = 0; nTry < 3 && page == 0; ++nTry) {
            const uint16_t usPage = FreeLoopbackPort();
            port = daemon.StartListening({"--headless", "--quiet", "--share", share.Share(), "--allow", "127.0.0.1",
                                          "--status-listen", "127.0.0.1:" + std::to_string(usPage)});
            ASSERT_NE(port, 0) << daemon.Error() << "\n" << daemon.Err();
            bool bOurs = false;
            ASSERT_TRUE(WaitFor([&] {
                bOurs = Contains(HttpExchange(usPage, Request("GET", "/status.json")), "HTTP/1.1 200");
                return bOurs || Contains(daemon.Err(), "status page cannot listen");
            })) << daemon.Err();
            if (bOurs)
                page = usPage;
            else
                daemon.Stop();
        }
        ASSERT_NE(page, 0) << daemon.Err();
    }

    std::string Url(const std::string& strPath) const { return "http://127.0.0.1:" + std::to_string(page) + strPath; }

    // The status the page serves, once pred holds for it.
    bool WaitStatus(const std::function<bool(const CStatusSnapshot&)>& pred)
    {
        return WaitFor([&] {
            CStatusSnapshot snap;
            return ParseStatusJson(BodyOf(HttpExchange(page, Request("GET", "/status.json"))), snap) == 0 &&
                   pred(snap);
        });
    }

    // Opens /rec.ts for download and fetches its first ullTo bytes (paced as always).
    void DownloadTo(CStbSession& stb, uint64_t ullFrom, uint64_t ullTo)
    {
        if (ullFrom == 0) {
            ASSERT_EQ(stb.Ask(FC_FILE_DN_REQ, PathPayload("/rec.ts", '\x05'), FC_FILE_DN_REP)[0], 0);
        }
        ASSERT_EQ(stb.Fetch(FC_DATA_REQ_LARGE, ullFrom, ullTo - ullFrom, ullTo - ullFrom).size(), ullTo - ullFrom);
        ASSERT_TRUE(WaitStatus([&](const CStatusSnapshot& snap) {
            return snap.stbs.size() == 1 && snap.stbs[0].activity.ullDone == ullTo;
        }));
    }

    CTempShare share;
    CDaemonProcess daemon{share.Root(), "d"};
    uint16_t port = 0;
    uint16_t page = 0;
};

// A browser shows the STB, what it downloads and a progress bar that moves on as the
// download does.
TEST_F(DaemonStatusPage, BrowserShowsTheDownloadAndItsProgressAdvancingBetweenTwoLoads)
{
    CStbSession stb(port);
    int nLast = -1;
    uint64_t ullDone = 0;
    for (const uint64_t ullTo : {1 * kMiB, 4 * kMiB}) {
        SCOPED_TRACE(ullTo);
        DownloadTo(stb, ullDone, ullTo);
        ullDone = ullTo;
        const std::string strDom = Browse(share.Root(), Url("/"));
        const std::string strRow = StbRow(strDom, "sending /rec.ts");
        ASSERT_FALSE(strRow.empty()) << strDom;
        EXPECT_TRUE(Contains(strRow, "<td>127.0.0.1</td>")) << strRow;
        const int nValue = ProgressValue(strRow);
        EXPECT_EQ(nValue, static_cast<int>(ullTo * 100 / (8 * kMiB))) << strRow;
        EXPECT_GT(nValue, nLast);
        nLast = nValue;
        EXPECT_TRUE(Contains(strDom, "1 STB; sending rec.ts " + std::to_string(nValue) + " %")) << strDom;
    }
}

// Nothing on the page changes anything: every method but GET and HEAD is refused before
// any work, on every path.
TEST_F(DaemonStatusPage, AnythingButGetAndHeadIsRefused)
{
    for (const char* pszPath : {"/", "/status.json", "/metrics"}) {
        for (const char* pszMethod : {"POST", "PUT", "DELETE", "PATCH", "OPTIONS", "TRACE"}) {
            SCOPED_TRACE(std::string(pszMethod) + " " + pszPath);
            const std::string strReply =
                HttpExchange(page, std::string(pszMethod) + " " + pszPath +
                                       " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Length: 4\r\n\r\nstop");
            EXPECT_TRUE(strReply.starts_with("HTTP/1.1 405")) << strReply;
            EXPECT_TRUE(Contains(strReply, "\r\nAllow: GET, HEAD\r\n")) << strReply;
        }
        const std::string strGet = HttpExchange(page, Request("GET", pszPath));
        const std::string strHead = HttpExchange(page, Request("HEAD", pszPath));
        EXPECT_TRUE(strGet.starts_with("HTTP/1.1 200")) << strGet;
        EXPECT_TRUE(strHead.starts_with("HTTP/1.1 200")) << strHead;
        EXPECT_FALSE(BodyOf(strGet).empty());
        EXPECT_TRUE(BodyOf(strHead).empty()) << strHead;
    }
}

// The allow-list that keeps hosts from the STB port keeps them from the page: a host
// outside it is closed without a reply.
TEST_F(DaemonStatusPage, HostOutsideTheAllowListIsRefused)
{
    EXPECT_EQ(HttpExchange(page, Request("GET", "/"), "127.0.0.2"), "");
    EXPECT_EQ(HttpExchange(page, Request("GET", "/status.json"), "127.0.0.2"), "");
    EXPECT_TRUE(HttpExchange(page, Request("GET", "/"), "127.0.0.1").starts_with("HTTP/1.1 200"));
}

// /metrics is what Prometheus reads: its own checker finds nothing wrong, with a session
// in the middle of a transfer and a refused connection counted.
TEST_F(DaemonStatusPage, MetricsPassPrometheusOwnCheck)
{
    CStbSession stb(port);
    DownloadTo(stb, 0, 2 * kMiB);
    {
        CTestClient refused(port, "127.0.0.2");
        EXPECT_TRUE(refused.WaitClosed());
    }
    std::string strMetrics;
    ASSERT_TRUE(WaitFor([&] {
        strMetrics = BodyOf(HttpExchange(page, Request("GET", "/metrics")));
        return Contains(strMetrics, "corvane_connections_refused_total{reason=\"address\"} 1\n");
    })) << strMetrics;
    EXPECT_TRUE(Contains(strMetrics, "corvane_sessions_by_activity{activity=\"downloading\"} 1\n")) << strMetrics;
    EXPECT_TRUE(Contains(strMetrics, ",activity=\"downloading\"} 2097152\n")) << strMetrics;
    EXPECT_TRUE(Contains(strMetrics, ",activity=\"downloading\"} 8388608\n")) << strMetrics;
    EXPECT_TRUE(Contains(strMetrics, "corvane_shared_folder_free_bytes ")) << strMetrics;
    const std::string strFile = share.Root() + "/metrics.txt";
    WriteLocalFile(strFile, strMetrics);
    // promtool reads the metrics on its standard input.
    const CRun run = RunProgram(share.Root(), "/bin/sh",
                                {"-c", std::string("exec \"$0\" check metrics < \"$1\""), kPromtool, strFile});
    EXPECT_EQ(run.nExit, 0) << run.strOut << run.strErr;
    EXPECT_EQ(run.strOut + run.strErr, "");
}

// `corvane --status` prints the running daemon's STBs from its page, found at the address
// the command line or the settings file gives; with no daemon there it ends with 3.
TEST_F(DaemonStatusPage, StatusCommandPrintsTheStbsOrEndsWith3WhenNoneAnswers)
{
    CStbSession stb(port);
    ASSERT_TRUE(stb.Version());
    ASSERT_TRUE(WaitStatus([](const CStatusSnapshot& snap) { return snap.stbs.size() == 1; }));
    const std::string strIni = share.Root() + "/status.ini";
    WriteLocalFile(strIni, "[Config]\nStatusListen = 127.0.0.1:" + std::to_string(page) + "\n");
    const std::string strNobody = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
    struct Case {
        std::vector<std::string> args;
        int nExit;
        const char* pszSaid;  // in its output when 0, in its errors otherwise
    };
    const Case cases[] = {
        {{"--status", "--status-listen", "127.0.0.1:" + std::to_string(page)}, 0, "\n1 STB\n  127.0.0.1  since "},
        {{"--status", "--config", strIni}, 0, "\n1 STB\n  127.0.0.1  since "},
        {{"--status", "--status-listen", strNobody}, 3, "corvane: no Corvane status page answers at "},
        {{"--status", "--status-listen", "off"}, 3, "corvane: the status page is off"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const CRun run = RunProgram(share.Root(), CORVANE_BIN, c.args);
        EXPECT_EQ(run.nExit, c.nExit) << run.strOut << run.strErr;
        EXPECT_TRUE(Contains(c.nExit == 0 ? run.strOut : run.strErr, c.pszSaid)) << run.strOut << run.strErr;
    }
}

// Where the page is served: the command line, else the settings file, else 127.0.0.1:2009;
// a stored value that is not of its form names the key and stops the start with 2.
TEST(StatusListen, CommandLineThenSettingsFileThenTheDefault)
{
    struct Case {
        const char* pszStored;  // null: not stored
        std::vector<const char*> args;
        int nResult;
        const char* pszWhere;
    };
    const Case cases[] = {
        {nullptr, {}, 0, "127.0.0.1:2009"},
        {"0.0.0.0:8081", {}, 0, "0.0.0.0:8081"},
        {" off ", {}, 0, "off"},
        {"0.0.0.0:8081", {"--status-listen", "127.0.0.1:2010"}, 0, "127.0.0.1:2010"},
        {"127.0.0.1", {}, -1, nullptr},
        {"127.0.0.1:0", {}, -1, nullptr},
        {"localhost:2009", {}, -1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszStored != nullptr ? c.pszStored : "(none)");
        CTempShare share;
        if (c.pszStored != nullptr) {
            ASSERT_EQ(plat::ProfileWriteString(g_pszConfigSection, g_pszStatusListenKey, c.pszStored), 0);
        }
        std::vector<const char*> argv{"corvane"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CCmdLine cmd;
        std::string strError;
        ASSERT_EQ(ParseCmdLine(static_cast<int>(argv.size()), argv.data(), cmd, strError), 0) << strError;
        CStatusListen listen;
        EXPECT_EQ(StatusListenOption(cmd, listen, strError), c.nResult);
        if (c.nResult == 0) {
            EXPECT_EQ(StatusListenText(listen), c.pszWhere);
        } else {
            EXPECT_TRUE(Contains(strError, std::string("StatusListen=") + c.pszStored)) << strError;
        }
    }
    for (const char* pszBad : {"127.0.0.1", "127.0.0.1:99999", "on"}) {
        const char* argv[] = {"corvane", "--status-listen", pszBad};
        CCmdLine cmd;
        std::string strError;
        EXPECT_EQ(ParseCmdLine(3, argv, cmd, strError), -1) << pszBad;
        EXPECT_TRUE(Contains(strError, std::string("'") + pszBad + "'")) << strError;
    }

    CTempShare share;
    CDaemonProcess daemon(share.Root(), "bad");
    const std::string strIni = share.Root() + "/bad.ini";
    WriteLocalFile(strIni, "[Config]\nStatusListen=2009\n");
    ASSERT_TRUE(daemon.Start({"--headless", "--quiet", "--config", strIni, "--port", std::to_string(FreeLoopbackPort())}));
    ASSERT_TRUE(daemon.Exited(10000));
    EXPECT_EQ(daemon.ExitCode(), 2);
    EXPECT_TRUE(Contains(daemon.Err(), "StatusListen=2009")) << daemon.Err();
}

// An address the page cannot have (another program holds it) is said in one line, and the
// STBs are served all the same.
TEST(StatusListen, PageThatCannotListenLeavesTheDaemonServing)
{
    CTempShare share;
    uint16_t usTaken = 0;
    const int hTaken = ListenLoopback(usTaken);
    ASSERT_GE(hTaken, 0);
    CDaemonProcess daemon(share.Root(), "d");
    const uint16_t port =
        daemon.StartListening({"--headless", "--quiet", "--status-listen", "127.0.0.1:" + std::to_string(usTaken)});
    ASSERT_NE(port, 0) << daemon.Error() << "\n" << daemon.Err();
    CStbSession stb(port);
    EXPECT_TRUE(stb.Version());
    EXPECT_TRUE(WaitFor([&] {
        return Contains(daemon.Err(), "corvane: the status page cannot listen at 127.0.0.1:" +
                                          std::to_string(usTaken) + " (in use, or not an address of this computer); "
                                                                    "serving STBs without it\n");
    })) << daemon.Err();
    plat::SockClose(hTaken);
}

}  // namespace
