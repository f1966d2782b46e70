// The example streaming server of res/streaming (Data/serverd.exe running lighttpd), as
// the daemon's --stream starts it from a working directory holding the example: byte
// ranges of a shared file over HTTP, nothing changed, no link followed out, and nothing
// left running or lying in the temporary folder.
// The suite's name begins with "Streaming": ctest runs such suites one at a time, since
// each starts a server on port 8880 (CMakeLists.txt).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/daemon_proc.h"
#include "tests/test_bytes.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;

// The port the launcher writes into Data/config/config.ini for the server.
constexpr uint16_t kStreamPort = 8880;

// Where serverd.exe looks for lighttpd: the PATH, then /usr/sbin and /sbin.
bool LighttpdInstalled()
{
    std::string strPath = getenv("PATH") != nullptr ? getenv("PATH") : "";
    strPath += ":/usr/sbin:/sbin";
    size_t nStart = 0;
    while (nStart <= strPath.size()) {
        size_t nEnd = strPath.find(':', nStart);
        if (nEnd == std::string::npos)
            nEnd = strPath.size();
        const std::string strDir = strPath.substr(nStart, nEnd - nStart);
        if (!strDir.empty() && access((strDir + "/lighttpd").c_str(), X_OK) == 0)
            return true;
        nStart = nEnd + 1;
    }
    return false;
}

// The example in the source tree, beside the tests.
std::string ExampleFolder() { return (fs::path(__FILE__).parent_path().parent_path() / "res" / "streaming").string(); }

// True when a server could take the port on every address now (as lighttpd binds it).
bool PortFree(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int nOn = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof(nOn));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool bFree = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(fd);
    return bFree;
}

// Where a request goes and from which local address (null: the system's choice, which
// for 127.0.0.1 is 127.0.0.1). Every 127.x.y.z is an address of this computer.
struct CRoute {
    const char* pszTo = "127.0.0.1";
    const char* pszFrom = nullptr;
};

// A connection to the port at route.pszTo from route.pszFrom; -1 when nothing accepts it.
int Connect(uint16_t port, const CRoute& route = {})
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (route.pszFrom != nullptr) {
        inet_pton(AF_INET, route.pszFrom, &addr.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
            close(fd);
            return -1;
        }
    }
    addr.sin_port = htons(port);
    inet_pton(AF_INET, route.pszTo, &addr.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// True when something accepts connections on 127.0.0.1:port.
bool Accepting(uint16_t port)
{
    const int fd = Connect(port);
    if (fd >= 0)
        close(fd);
    return fd >= 0;
}

struct CHttpAnswer {
    int nStatus = 0;  // 0: no answer, or not HTTP
    std::string strHeaders;
    std::string strBody;
};

// One request on a connection of its own, the answer read until the server closes it.
CHttpAnswer HttpRequest(const std::string& strMethod, const std::string& strTarget, const std::string& strRange = "",
                        const CRoute& route = {})
{
    CHttpAnswer answer;
    const int fd = Connect(kStreamPort, route);
    if (fd < 0)
        return answer;
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    std::string strRequest = strMethod + " " + strTarget + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (!strRange.empty())
        strRequest += "Range: " + strRange + "\r\n";
    strRequest += "Content-Length: 0\r\n\r\n";
    std::string strAll;
    if (send(fd, strRequest.data(), strRequest.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(strRequest.size())) {
        char buf[65536];
        for (ssize_t n; (n = recv(fd, buf, sizeof(buf), 0)) > 0;)
            strAll.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    const size_t nHeadEnd = strAll.find("\r\n\r\n");
    if (strAll.compare(0, 9, "HTTP/1.1 ") != 0 || nHeadEnd == std::string::npos)
        return answer;
    answer.nStatus = atoi(strAll.c_str() + 9);
    answer.strHeaders = strAll.substr(0, nHeadEnd + 2);
    answer.strBody = strAll.substr(nHeadEnd + 4);
    return answer;
}

// Sets an environment variable for the test's lifetime (the daemon and the server
// inherit it), restoring the old value afterwards.
class CScopedEnv {
public:
    CScopedEnv(const char* pszName, const std::string& strValue) : m_pszName(pszName)
    {
        const char* pszOld = getenv(pszName);
        m_bHad = pszOld != nullptr;
        if (m_bHad)
            m_strOld = pszOld;
        setenv(pszName, strValue.c_str(), 1);
    }
    ~CScopedEnv()
    {
        if (m_bHad)
            setenv(m_pszName, m_strOld.c_str(), 1);
        else
            unsetenv(m_pszName);
    }
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

private:
    const char* m_pszName;
    std::string m_strOld;
    bool m_bHad = false;
};

// Kills, when the test ends however it ends, the process group of every process still
// running in the folder: a server that a failed test left behind would hold the port.
class CServerReaper {
public:
    explicit CServerReaper(const std::string& strFolder) : m_Folder(strFolder) {}
    ~CServerReaper()
    {
        std::error_code ec;
        for (const fs::directory_entry& proc : fs::directory_iterator("/proc", ec)) {
            const std::string strName = proc.path().filename().string();
            if (strName.find_first_not_of("0123456789") != std::string::npos)
                continue;
            if (fs::read_symlink(proc.path() / "cwd", ec) == m_Folder && !ec) {
                const pid_t pid = static_cast<pid_t>(std::stol(strName));
                kill(-pid, SIGKILL);  // the server's own group: the script and lighttpd
                kill(pid, SIGKILL);
            }
        }
    }
    CServerReaper(const CServerReaper&) = delete;
    CServerReaper& operator=(const CServerReaper&) = delete;

private:
    fs::path m_Folder;
};

// The example copied into a working directory of its own (cwd/ beside the share, with a
// TMPDIR of its own, tmp/) and the daemon started there with --stream: the daemon and
// whatever it started are stopped however the test ends.
class CStreamingExample {
public:
    explicit CStreamingExample(const CTempShare& share)
        : m_strCwd(share.Root() + "/cwd"), m_strTmp(share.Root() + "/tmp"), m_Reaper(m_strCwd + "/Data"),
          m_TmpDir("TMPDIR", m_strTmp), m_Daemon(share.Root(), "stream"), m_strShare(share.Share())
    {
    }

    // Copies the example, starts the daemon with args besides --headless --stream --share,
    // and waits until the server answers a request for strFile by way of ready with 200.
    // Empty, or what went wrong.
    std::string Start(const std::vector<std::string>& args, const std::string& strFile, const CRoute& ready = {})
    {
        std::error_code ec;
        fs::copy(ExampleFolder(), m_strCwd, fs::copy_options::recursive, ec);
        if (ec)
            return ExampleFolder() + ": " + ec.message();
        if (!fs::create_directory(m_strTmp, ec))
            return m_strTmp + ": " + ec.message();
        std::vector<std::string> all{"--headless", "--stream", "--share", m_strShare};
        all.insert(all.end(), args.begin(), args.end());
        if (m_Daemon.StartListening(all, "127.0.0.1", m_strCwd) == 0)
            return m_Daemon.Error() + "\n" + m_Daemon.Err();
        if (!WaitFor([&] { return HttpRequest("HEAD", strFile, "", ready).nStatus == 200; }, 15000))
            return "no answer: daemon: " + m_Daemon.Err() + "\nserver: " + ReadLocalFile(m_strCwd + "/Data/logs/serverd.log");
        return "";
    }

    // Stops the daemon: 0 when it ended as it should and the server went with it.
    int Stop()
    {
        const int nExit = m_Daemon.Stop();
        if (!WaitFor([] { return !Accepting(kStreamPort) && PortFree(kStreamPort); }, 5000))
            return -1;
        return nExit;
    }

    const std::string& Tmp() const { return m_strTmp; }
    const CDaemonProcess& Daemon() const { return m_Daemon; }

private:
    std::string m_strCwd, m_strTmp;
    CServerReaper m_Reaper;
    CScopedEnv m_TmpDir;
    CDaemonProcess m_Daemon;
    std::string m_strShare;
};

// Why the example cannot run here, or empty.
std::string ExampleCannotRun()
{
    if (!LighttpdInstalled())
        return "lighttpd is not installed (scripts/deps installs it)";
    // Another run of these tests (a second build's suite) may hold the port for a while.
    if (!WaitFor([] { return PortFree(kStreamPort); }, 30000))
        return "port " + std::to_string(kStreamPort) + ", which the launcher gives the streaming server, is in use";
    return "";
}

}  // namespace

TEST(StreamingServer, ExampleServesRangesOfTheSharedFolderReadOnlyAndEndsWithTheDaemon)
{
    const std::string strWhyNot = ExampleCannotRun();
    if (!strWhyNot.empty())
        GTEST_SKIP() << strWhyNot;

    CTempShare share;
    const std::string data = RandomBytes(300000, 7);
    share.WriteFile("movies/clip one.ts", data);
    WriteLocalFile(share.Root() + "/secret", "outside the shared folder");
    ASSERT_EQ(symlink((share.Root() + "/secret").c_str(), share.Path("movies/out.ts").c_str()), 0);

    CStreamingExample example(share);
    const std::string strError = example.Start({}, "/movies/clip%20one.ts");
    ASSERT_EQ(strError, "");

    struct {
        const char* pszRange;
        size_t nFirst, nLength;
    } const aRanges[] = {
        {"bytes=0-0", 0, 1},
        {"bytes=1000-70999", 1000, 70000},            // more than one read of the server
        {"bytes=-100", data.size() - 100, 100},       // the last bytes, as a player seeks to the end
        {"bytes=299990-", data.size() - 10, 10},      // from an offset to the end
        {"bytes=299000-400000", 299000, 1000},        // a last byte past the end stops at the end
    };
    for (const auto& range : aRanges) {
        SCOPED_TRACE(range.pszRange);
        const CHttpAnswer answer = HttpRequest("GET", "/movies/clip%20one.ts", range.pszRange);
        EXPECT_EQ(answer.nStatus, 206) << answer.strHeaders;
        const std::string strContentRange = "Content-Range: bytes " + std::to_string(range.nFirst) + "-" +
                                            std::to_string(range.nFirst + range.nLength - 1) + "/" +
                                            std::to_string(data.size()) + "\r\n";
        EXPECT_TRUE(Contains(answer.strHeaders, strContentRange)) << answer.strHeaders;
        EXPECT_TRUE(SameBytes(answer.strBody, data.substr(range.nFirst, range.nLength)));
    }
    EXPECT_EQ(HttpRequest("GET", "/movies/clip%20one.ts", "bytes=300000-").nStatus, 416);

    // Read-only: a request to change the folder is refused and changes nothing.
    for (const char* pszMethod : {"PUT", "DELETE"}) {
        SCOPED_TRACE(pszMethod);
        EXPECT_GE(HttpRequest(pszMethod, "/movies/clip%20one.ts").nStatus, 400);
    }
    EXPECT_EQ(share.ReadFile("movies/clip one.ts"), data);
    // A link out of the shared folder shows nothing of its target.
    const CHttpAnswer linked = HttpRequest("GET", "/movies/out.ts");
    EXPECT_EQ(linked.nStatus, 403) << linked.strHeaders;
    EXPECT_FALSE(Contains(linked.strBody, "outside")) << linked.strBody;
    // The generated configuration is gone once the server runs.
    std::error_code ec;
    EXPECT_TRUE(WaitFor([&] { return fs::is_empty(example.Tmp(), ec); }, 5000))
        << example.Tmp() << " keeps the server's files";

    // The daemon stops the server it started as it ends.
    EXPECT_EQ(example.Stop(), 0) << "the daemon did not end well, or the streaming server runs on: "
                                 << example.Daemon().Err();
}

// The server serves where the daemon does: on the daemon's --listen address only, and to
// the hosts of its --allow list only (any other is answered 403); "all" refuses no one.
TEST(StreamingServer, ExampleServesOnlyOnTheDaemonsAddressAndOnlyItsAllowedHosts)
{
    const std::string strWhyNot = ExampleCannotRun();
    if (!strWhyNot.empty())
        GTEST_SKIP() << strWhyNot;
    struct Try {
        CRoute route;
        int nStatus;  // 0: nothing answers there
    };
    struct Case {
        std::vector<std::string> args;
        CRoute ready;  // a way that is served
        std::vector<Try> tries;
    };
    const Case cases[] = {
        {{"--listen", "127.0.0.1", "--allow", "127.0.0.1"},
         {},
         {{{"127.0.0.2", nullptr}, 0}, {{"127.0.0.2", "127.0.0.1"}, 0}}},
        {{"--allow", "127.0.0.3,10.0.0.0/8"},
         {"127.0.0.1", "127.0.0.3"},
         {{{"127.0.0.1", nullptr}, 403}, {{"127.0.0.2", "127.0.0.2"}, 403}, {{"127.0.0.2", "127.0.0.3"}, 200}}},
        {{"--allow", "all"}, {}, {{{"127.0.0.2", "127.0.0.2"}, 200}, {{"127.0.0.1", "127.0.0.4"}, 200}}},
    };
    for (const Case& c : cases) {
        std::string strArgs;
        for (const std::string& str : c.args)
            strArgs += str + " ";
        SCOPED_TRACE(strArgs);
        CTempShare share;
        share.WriteFile("clip.ts", "the clip");
        CStreamingExample example(share);
        const std::string strError = example.Start(c.args, "/clip.ts", c.ready);
        ASSERT_EQ(strError, "");
        for (const Try& t : c.tries) {
            SCOPED_TRACE(std::string("to ") + t.route.pszTo + " from " + (t.route.pszFrom ? t.route.pszFrom : "any"));
            const CHttpAnswer answer = HttpRequest("GET", "/clip.ts", "", t.route);
            EXPECT_EQ(answer.nStatus, t.nStatus) << answer.strHeaders;
            if (t.nStatus == 0) {
                const int fd = Connect(kStreamPort, t.route);
                EXPECT_LT(fd, 0) << "something listens there";
                if (fd >= 0)
                    close(fd);
            }
            EXPECT_EQ(answer.strBody == "the clip", t.nStatus == 200);
        }
        EXPECT_EQ(example.Stop(), 0) << example.Daemon().Err();
    }
}
