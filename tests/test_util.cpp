#include "tests/test_util.h"

#include <csignal>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include "app/settings.h"
#include "platform/memory.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void SaveAndSet(const char* pszName, const std::string& value, std::string& old, bool& bHad)
{
    const char* p = getenv(pszName);
    bHad = p != nullptr;
    if (bHad)
        old = p;
    setenv(pszName, value.c_str(), 1);
}

void Restore(const char* pszName, const std::string& old, bool bHad)
{
    if (bHad)
        setenv(pszName, old.c_str(), 1);
    else
        unsetenv(pszName);
}

}  // namespace

CTempShare::CTempShare(OwnFilesPlace ePlace)
{
    std::string strTemplate = (fs::temp_directory_path() / "corvane-test-XXXXXX").string();
    if (mkdtemp(strTemplate.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    m_strRoot = strTemplate;
    m_strShare = m_strRoot + "/share";
    const bool bInShare = ePlace == OwnFilesPlace::InShare;
    const std::string strConfig = bInShare ? m_strShare + "/.config" : m_strRoot + "/cfg";
    const std::string strRuntime = bInShare ? m_strShare + "/run" : m_strRoot + "/run";
    for (const std::string& strDir : {m_strShare, strConfig, strRuntime})
        fs::create_directory(strDir);
    chmod(strRuntime.c_str(), 0700);  // a lock folder no one else may write in
    SaveAndSet("XDG_CONFIG_HOME", strConfig, m_strOldConfig, m_bHadConfig);
    SaveAndSet("XDG_RUNTIME_DIR", strRuntime, m_strOldRuntime, m_bHadRuntime);
    SaveAndSet("XDG_STATE_HOME", bInShare ? m_strShare + "/.local/state" : m_strRoot + "/state", m_strOldState,
               m_bHadState);
    EXPECT_EQ(StoreSharedFolder(m_strShare), 0);
}

CTempShare::~CTempShare()
{
    Restore("XDG_CONFIG_HOME", m_strOldConfig, m_bHadConfig);
    Restore("XDG_RUNTIME_DIR", m_strOldRuntime, m_bHadRuntime);
    Restore("XDG_STATE_HOME", m_strOldState, m_bHadState);
    if (!m_strRoot.empty()) {
        std::error_code ec;
        fs::remove_all(m_strRoot, ec);
    }
}

fs::path LocalFsPath(const std::string& strPath) { return fs::path(strPath); }

std::string LocalFsString(const fs::path& path) { return path.generic_string(); }

std::string ExactLocalPath(const std::string& strPath) { return strPath; }

int ListenLoopback(uint16_t& port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(sa);
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 || listen(s, 1) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        close(s);
        ADD_FAILURE() << "no free loopback port";
        return -1;
    }
    port = ntohs(sa.sin_port);
    return s;
}

bool CTestServer::WaitIdle(unsigned nAccepted, int timeoutMs)
{
    ListenPort();
    // A thread blocked in accept on the listener shows the call and the descriptor as the
    // first two fields of its /proc syscall line.
    auto acceptWaiting = [this] {
        std::error_code ec;
        for (const auto& task : fs::directory_iterator("/proc/self/task", ec)) {
            std::istringstream line(ReadLocalFile(task.path().string() + "/syscall"));
            long nCall = -1;
            std::string strFd;
            line >> nCall >> strFd;
            if ((nCall == SYS_accept4 || nCall == SYS_accept) && !strFd.empty() &&
                std::stol(strFd, nullptr, 16) == m_Man.m_hServSock)
                return true;
        }
        return false;
    };
    return WaitFor([&] { return m_Man.m_nAccepted.load() >= nAccepted && acceptWaiting(); }, timeoutMs);
}

CTestClient::CTestClient(uint16_t port, const char* pszFrom, const char* pszTo, int nRecvBufBytes)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (nRecvBufBytes > 0 && setsockopt(s, SOL_SOCKET, SO_RCVBUF, &nRecvBufBytes, sizeof(nRecvBufBytes)) != 0) {
        ADD_FAILURE() << "cannot set a receive buffer of " << nRecvBufBytes << " bytes";
        close(s);
        return;
    }
    sockaddr_in sa{};
    if (pszFrom != nullptr) {
        sa.sin_family = AF_INET;
        if (inet_pton(AF_INET, pszFrom, &sa.sin_addr) != 1 ||
            bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
            ADD_FAILURE() << "cannot bind a client socket to " << pszFrom;
            close(s);
            return;
        }
    }
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, pszTo, &sa.sin_addr) != 1) {
        ADD_FAILURE() << "not an address: " << pszTo;
        close(s);
        return;
    }
    int rc;
    do {
        rc = connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        close(s);
        return;
    }
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    m_nFd = s;
}

CTestClient::~CTestClient()
{
    if (m_nFd >= 0)
        close(m_nFd);
}

bool CTestClient::TrySend(const std::string& bytes)
{
    size_t nDone = 0;
    while (m_nFd >= 0 && nDone < bytes.size()) {
        ssize_t n = send(m_nFd, bytes.data() + nDone, bytes.size() - nDone, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
    return m_nFd >= 0;
}

std::string CTestClient::RecvBytes(size_t n, int timeoutMs)
{
    std::string out;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[65536];
    while (m_nFd >= 0 && out.size() < n) {
        pollfd pfd{m_nFd, POLLIN, 0};
        int rc = poll(&pfd, 1, RemainingMs(deadline));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            break;
        ssize_t got = recv(m_nFd, buf, std::min(sizeof(buf), n - out.size()), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

bool CTestClient::WaitClosed(int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    while (m_nFd >= 0) {
        pollfd pfd{m_nFd, POLLIN, 0};
        int rc = poll(&pfd, 1, RemainingMs(deadline));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc == 0)
            return false;
        ssize_t n = recv(m_nFd, buf, sizeof(buf), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
    }
    return false;
}

bool UnderWine() { return false; }

int UnreadBytes(plat::Socket s)
{
    int n = 0;
    return ioctl(s, FIONREAD, &n) == 0 ? n : -1;
}

void ShrinkSocketBuffers(plat::Socket s)
{
    const int nBytes = 1;  // raised to the system's least
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_SNDBUF, &nBytes, sizeof(nBytes)), 0);
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVBUF, &nBytes, sizeof(nBytes)), 0);
}

FileSizeLimit::FileSizeLimit()
{
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{};
    EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &r), 0);
    m_ullOldCur = r.rlim_cur;
    m_ullOldMax = r.rlim_max;
}

void FileSizeLimit::Lower(uint64_t ullBytes)
{
    const rlimit r{ullBytes, m_ullOldMax};
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &r), 0);
}

void FileSizeLimit::Lift()
{
    const rlimit r{m_ullOldCur, m_ullOldMax};
    setrlimit(RLIMIT_FSIZE, &r);
}
