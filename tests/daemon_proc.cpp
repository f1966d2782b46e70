#include "tests/daemon_proc.h"
#include "tests/daemon_proc_wait.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {


// Our environment with the child's own settings, runtime and state folders in place of
// ours (and no service's state folder).
std::vector<std::string> ChildEnvironment(const std::string& strFolder)
{
    std::vector<std::string> env{"XDG_CONFIG_HOME=" + strFolder + "/cfg", "XDG_RUNTIME_DIR=" + strFolder + "/run",
                                 "XDG_STATE_HOME=" + strFolder + "/state"};
    for (char** pp = environ; *pp != nullptr; ++pp)
        if (strncmp(*pp, "XDG_CONFIG_HOME=", 16) != 0 && strncmp(*pp, "XDG_RUNTIME_DIR=", 16) != 0 &&
            strncmp(*pp, "XDG_STATE_HOME=", 15) != 0 && strncmp(*pp, "STATE_DIRECTORY=", 16) != 0)
            env.emplace_back(*pp);
    return env;
}

// The strings' characters as the NULL-ended array that exec takes; valid while they live.
std::vector<char*> CharArray(std::vector<std::string>& strings)
{
    std::vector<char*> array;
    for (std::string& s : strings)
        array.push_back(s.data());
    array.push_back(nullptr);
    return array;
}


std::string ReadWholeFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace

// True when a connection to pszAddr:port completes (it is closed again at once).
bool Connects(const char* pszAddr, uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, pszAddr, &sa.sin_addr) != 1)
        return false;
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    int rc;
    do {
        rc = connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    } while (rc != 0 && errno == EINTR);
    close(s);
    return rc == 0;
}

CDaemonProcess::CDaemonProcess(const std::string& strFolder, const std::string& strTag, const std::string& strProgram)
    : m_strFolder(strFolder), m_strProgram(strProgram.empty() ? CORVANE_BIN : strProgram),
      m_strOut(strFolder + "/" + strTag + ".out"), m_strErr(strFolder + "/" + strTag + ".err")
{
}

CDaemonProcess::~CDaemonProcess()
{
    Kill();
    ClosePipe();
}

bool CDaemonProcess::Start(const std::vector<std::string>& args, const std::string& strCwd,
                           const std::string& strErrTo)
{
    Kill();
    ClosePipe();
    m_strError.clear();
    std::vector<std::string> argStrings{m_strProgram};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings = ChildEnvironment(m_strFolder);
    std::vector<char*> argv = CharArray(argStrings), envp = CharArray(envStrings);
    const std::string& strErr = strErrTo.empty() ? m_strErr : strErrTo;

    // Both ends close on exec: the child's copy of the writing end is its standard output.
    int fdPipe[2] = {-1, -1};
    if (m_bOutPipe && pipe2(fdPipe, O_CLOEXEC) != 0) {
        m_strError = "cannot make the output pipe for " + m_strProgram + ": " + strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (m_bOutPipe)
        posix_spawn_file_actions_adddup2(&actions, fdPipe[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, m_strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, strErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!strCwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, strCwd.c_str());
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (m_bOutPipe) {
        close(fdPipe[1]);
        if (rc == 0)
            m_fdOutPipe = fdPipe[0];
        else
            close(fdPipe[0]);
    }
    if (rc != 0)
        m_strError = "cannot start " + m_strProgram + ": " + strerror(rc);
    m_pid = rc == 0 ? pid : -1;
    m_bExited = false;
    m_nStatus = 0;
    return rc == 0;
}

void CDaemonProcess::ClosePipe()
{
    if (m_fdOutPipe >= 0)
        close(m_fdOutPipe);
    m_fdOutPipe = -1;
}

bool CDaemonProcess::Exited(int timeoutMs)
{
    if (m_pid <= 0)
        return true;
    return PollUntil([&] { return m_bExited || (m_bExited = waitpid(m_pid, &m_nStatus, WNOHANG) == m_pid); },
                     timeoutMs);
}

int CDaemonProcess::ExitCode() const
{
    if (!m_bExited)
        return -1;
    return WIFEXITED(m_nStatus) ? WEXITSTATUS(m_nStatus) : -1000 - m_nStatus;
}

int CDaemonProcess::Stop(int timeoutMs)
{
    if (Running()) {
        Signal(SIGTERM);
        if (!Exited(timeoutMs))
            Kill();
    }
    return ExitCode();
}

void CDaemonProcess::Signal(int nSig) const
{
    if (Running())
        kill(m_pid, nSig);
}

void CDaemonProcess::Kill()
{
    if (!Running())
        return;
    kill(m_pid, SIGKILL);
    while (waitpid(m_pid, &m_nStatus, 0) < 0 && errno == EINTR) {
    }
    m_bExited = true;
}

std::string CDaemonProcess::Out() const { return ReadWholeFile(m_strOut); }

std::string CDaemonProcess::Err() const { return ReadWholeFile(m_strErr); }
