// The example streaming server of res/streaming (Data/serverd.exe running lighttpd), as
// the daemon's --stream starts it from a working directory holding the example: byte
// ranges of a shared file over HTTP, nothing changed, no link followed out, and nothing
// left running or lying in the temporary folder.
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

// A connection to 127.0.0.1:port; -1 when nothing accepts it.
int ConnectLoopback(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// True when something accepts connections on 127.0.0.1:port.
bool Accepting(uint16_t port)
{
    const int fd = ConnectLoopback(port);
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
CHttpAnswer HttpRequest(const std::string& strMethod, const std::string& strTarget, const std::string& strRange = "")
{
    CHttpAnswer answer;
    const int fd = ConnectLoopback(kStreamPort);
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

}  // namespace

TEST(StreamingServer, ExampleServesRangesOfTheSharedFolderReadOnlyAndEndsWithTheDaemon)
{
    if (!LighttpdInstalled())
        GTEST_SKIP() << "lighttpd is not installed (scripts/deps installs it)";
    // Another run of this test (a second build's suite) may hold the port for a while.
    if (!WaitFor([] { return PortFree(kStreamPort); }, 30000))
        GTEST_SKIP() << "port " << kStreamPort << ", which the launcher gives the streaming server, is in use";

    CTempShare share;
    const std::string strCwd = share.Root() + "/cwd";
    const std::string strTmp = share.Root() + "/tmp";
    std::error_code ec;
    fs::copy(ExampleFolder(), strCwd, fs::copy_options::recursive, ec);
    ASSERT_FALSE(ec) << ExampleFolder() << ": " << ec.message();
    ASSERT_TRUE(fs::create_directory(strTmp, ec));
    CServerReaper reaper(strCwd + "/Data");
    CScopedEnv tmpdir("TMPDIR", strTmp);

    const std::string data = RandomBytes(300000, 7);
    share.WriteFile("movies/clip one.ts", data);
    WriteLocalFile(share.Root() + "/secret", "outside the shared folder");
    ASSERT_EQ(symlink((share.Root() + "/secret").c_str(), share.Path("movies/out.ts").c_str()), 0);

    CDaemonProcess daemon(share.Root(), "stream");
    ASSERT_NE(daemon.StartListening({"--headless", "--stream", "--share", share.Share()}, "127.0.0.1", strCwd), 0)
        << daemon.Error() << "\n" << daemon.Err();
    const std::string strLog = strCwd + "/Data/logs/serverd.log";
    ASSERT_TRUE(WaitFor([] { return HttpRequest("HEAD", "/movies/clip%20one.ts").nStatus == 200; }, 15000))
        << "daemon: " << daemon.Err() << "\nserver: " << ReadLocalFile(strLog);

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
    EXPECT_TRUE(WaitFor([&] { return fs::is_empty(strTmp, ec); }, 5000)) << strTmp << " keeps the server's files";

    // The daemon stops the server it started as it ends.
    EXPECT_EQ(daemon.Stop(), 0) << daemon.Err();
    EXPECT_TRUE(WaitFor([] { return !Accepting(kStreamPort) && PortFree(kStreamPort); }, 5000))
        << "the streaming server still runs after the daemon ended";
}
