#include "daemon_proc.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "stb_client.h"

extern char** environ;

namespace {

constexpr int kStartAttempts = 3;
constexpr int kReadyTimeoutMs = 5000;

// A port that nothing listens on right now. The daemon binds it a moment later; should
// another program take it first, the daemon ends with "WINSOCK ERROR" and Start tries a
// different one.
int FindFreePort()
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof(sa);
    int nPort = -1;
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        nPort = ntohs(sa.sin_port);
    close(s);
    return nPort;
}

double SecondsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

CDaemonProc::~CDaemonProc()
{
    Reap();
    if (!m_strRoot.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_strRoot, ec);
    }
}

void CDaemonProc::Reap()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    if (m_Drain.joinable())
        m_Drain.join();
    if (m_fdTrace >= 0) {
        close(m_fdTrace);
        m_fdTrace = -1;
    }
}

int CDaemonProc::Start(const std::string& strBinary, bool bTrace, std::string& strError)
{
    if (m_strRoot.empty()) {
        char szTemplate[] = "/tmp/corvane-bench.XXXXXX";
        if (mkdtemp(szTemplate) == nullptr) {
            strError = std::string("mkdtemp: ") + strerror(errno);
            return -1;
        }
        m_strRoot = szTemplate;
        std::error_code ec;
        for (const char* pszSub : {"/config", "/runtime", "/share"})
            std::filesystem::create_directory(m_strRoot + pszSub, ec);
        chmod((m_strRoot + "/runtime").c_str(), 0700);
    }
    for (int i = 0; i < kStartAttempts; ++i) {
        if (Launch(strBinary, bTrace, strError) != 0)
            return -1;
        if (WaitReady(strError) == 0)
            return 0;
        Reap();
    }
    return -1;
}

int CDaemonProc::Launch(const std::string& strBinary, bool bTrace, std::string& strError)
{
    int nPort = FindFreePort();
    if (nPort <= 0) {
        strError = "no free port";
        return -1;
    }
    m_usPort = static_cast<uint16_t>(nPort);

    // Every connection of a benchmark comes from 127.0.0.1, one host to the daemon (a
    // thousand idle sessions, say): the session caps are lifted so that they never turn
    // one away, unless SetSessionCaps asked for others.
    std::vector<std::string> args = {strBinary, "--headless", "--port", std::to_string(nPort), "--share",
                                     m_strRoot + "/share", "--max-sessions", m_strMaxSessions, "--max-sessions-per-host",
                                     m_strMaxPerHost};
    if (!bTrace)
        args.push_back("--quiet");
    if (m_bWideLinks)
        args.push_back("--wide-links");
    std::vector<std::string> env;
    for (char** p = environ; *p != nullptr; ++p) {
        if (strncmp(*p, "XDG_CONFIG_HOME=", 16) != 0 && strncmp(*p, "XDG_RUNTIME_DIR=", 16) != 0)
            env.emplace_back(*p);
    }
    env.push_back("XDG_CONFIG_HOME=" + m_strRoot + "/config");
    env.push_back("XDG_RUNTIME_DIR=" + m_strRoot + "/runtime");
    // Built before the fork: the child only calls what is safe between fork and exec.
    std::vector<char*> argv, envp;
    for (auto& s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    int fdOut[2] = {-1, -1};
    if (bTrace) {
        if (pipe2(fdOut, O_CLOEXEC) != 0) {
            strError = std::string("pipe: ") + strerror(errno);
            return -1;
        }
    } else {
        fdOut[1] = open("/dev/null", O_WRONLY | O_CLOEXEC);
    }
    int fdNull = open("/dev/null", O_RDONLY | O_CLOEXEC);

    pid_t pid = fork();
    if (pid < 0) {
        strError = std::string("fork: ") + strerror(errno);
        return -1;
    }
    if (pid == 0) {
        dup2(fdNull, 0);
        dup2(fdOut[1], 1);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    m_pid = pid;
    close(fdNull);
    close(fdOut[1]);
    if (bTrace) {
        m_fdTrace = fdOut[0];
        m_ullTraceBytes = 0;
        m_Drain = std::thread([this] {
            char buf[65536];
            for (;;) {
                ssize_t n = read(m_fdTrace, buf, sizeof(buf));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                m_ullTraceBytes += static_cast<uint64_t>(n);
            }
        });
    }
    return 0;
}

int CDaemonProc::WaitReady(std::string& strError)
{
    auto t0 = std::chrono::steady_clock::now();
    while (SecondsSince(t0) * 1000 < kReadyTimeoutMs) {
        int nStatus = 0;
        if (waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
            m_pid = -1;
            strError = "the daemon ended at start-up with status " +
                       std::to_string(WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1);
            return -1;
        }
        int fd = ConnectLoopback(m_usPort);
        if (fd >= 0) {
            int rc = VerRoundTrip(fd);
            close(fd);
            if (rc == 0)
                return 0;
            strError = "the daemon accepted a connection but did not answer FC_VER_REQ as expected";
            return -1;
        }
        usleep(5000);
    }
    strError = "the daemon did not accept a connection within " + std::to_string(kReadyTimeoutMs) + " ms";
    return -1;
}

int CDaemonProc::Stop(int nTimeoutMs, double* pSeconds)
{
    if (m_pid <= 0)
        return -1;
    auto t0 = std::chrono::steady_clock::now();
    kill(m_pid, SIGTERM);
    int nResult = -1;
    for (;;) {
        int nStatus = 0;
        pid_t r = waitpid(m_pid, &nStatus, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            nResult = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
            break;
        }
        if (SecondsSince(t0) * 1000 > nTimeoutMs)
            break;
        usleep(1000);
    }
    if (pSeconds != nullptr)
        *pSeconds = SecondsSince(t0);
    Reap();
    return nResult;
}

long CDaemonProc::StatusField(const char* pszKey) const
{
    if (m_pid <= 0)
        return -1;
    std::ifstream in("/proc/" + std::to_string(m_pid) + "/status");
    std::string strLine;
    const size_t nKey = strlen(pszKey);
    while (std::getline(in, strLine)) {
        if (strLine.compare(0, nKey, pszKey) == 0 && strLine.size() > nKey && strLine[nKey] == ':')
            return strtol(strLine.c_str() + nKey + 1, nullptr, 10);
    }
    return -1;
}

double CDaemonProc::CpuSeconds() const
{
    if (m_pid <= 0)
        return -1;
    std::error_code ec;
    unsigned long long ullNanos = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(m_pid) + "/task", ec)) {
        std::ifstream in(entry.path() / "schedstat");
        unsigned long long ullRun = 0;
        if (in >> ullRun)
            ullNanos += ullRun;
    }
    return ec ? -1 : static_cast<double>(ullNanos) / 1e9;
}

double CDaemonProc::ProcessCpuSeconds() const
{
    if (m_pid <= 0)
        return -1;
    std::ifstream in("/proc/" + std::to_string(m_pid) + "/stat");
    std::string strStat;
    std::getline(in, strStat);
    // The command name may hold spaces and parentheses: the fields start after the last ')'.
    const size_t nClose = strStat.rfind(')');
    if (nClose == std::string::npos)
        return -1;
    std::istringstream fields(strStat.substr(nClose + 1));
    std::string strField;
    unsigned long long ullUser = 0, ullSystem = 0;
    // Fields 3..13 (state .. cmajflt) come first, then utime (14) and stime (15).
    for (int i = 3; i <= 13; ++i)
        fields >> strField;
    if (!(fields >> ullUser >> ullSystem))
        return -1;
    const long nTicks = sysconf(_SC_CLK_TCK);
    return nTicks > 0 ? static_cast<double>(ullUser + ullSystem) / static_cast<double>(nTicks) : -1;
}
