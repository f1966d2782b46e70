#include "tests/daemon_proc.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "tests/test_util.h"

extern char** environ;

namespace {

constexpr int kListenTries = 5;

// Our environment with the child's own settings and runtime folders in place of ours.
std::vector<std::string> ChildEnvironment(const std::string& strFolder)
{
    std::vector<std::string> env{"XDG_CONFIG_HOME=" + strFolder + "/cfg", "XDG_RUNTIME_DIR=" + strFolder + "/run"};
    for (char** pp = environ; *pp != nullptr; ++pp)
        if (strncmp(*pp, "XDG_CONFIG_HOME=", 16) != 0 && strncmp(*pp, "XDG_RUNTIME_DIR=", 16) != 0)
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

}  // namespace

CDaemonProcess::CDaemonProcess(const std::string& strFolder, const std::string& strTag, const std::string& strProgram)
    : m_strFolder(strFolder), m_strProgram(strProgram.empty() ? CORVANE_BIN : strProgram),
      m_strOut(strFolder + "/" + strTag + ".out"), m_strErr(strFolder + "/" + strTag + ".err")
{
}

CDaemonProcess::~CDaemonProcess() { Kill(); }

bool CDaemonProcess::Start(const std::vector<std::string>& args, const std::string& strCwd,
                           const std::string& strErrTo)
{
    Kill();
    std::vector<std::string> argStrings{m_strProgram};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings = ChildEnvironment(m_strFolder);
    std::vector<char*> argv = CharArray(argStrings), envp = CharArray(envStrings);
    const std::string& strErr = strErrTo.empty() ? m_strErr : strErrTo;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, m_strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, strErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!strCwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, strCwd.c_str());
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << "cannot start " << m_strProgram << ": " << strerror(rc);
    m_pid = rc == 0 ? pid : -1;
    m_bExited = false;
    m_nStatus = 0;
    return rc == 0;
}

uint16_t CDaemonProcess::StartListening(std::vector<std::string> args, const char* pszAddr, const std::string& strCwd)
{
    args.insert(args.end(), {"--port", ""});
    for (int nTry = 0; nTry < kListenTries; ++nTry) {
        m_usPort = FreeLoopbackPort();
        args.back() = std::to_string(m_usPort);
        if (Start(args, strCwd) && WaitListening(m_usPort, pszAddr))
            return m_usPort;
        Kill();
    }
    m_usPort = 0;
    return 0;
}

bool CDaemonProcess::WaitListening(uint16_t port, const char* pszAddr, int timeoutMs)
{
    const bool bListening = WaitFor([&] { return Exited(0) || CTestClient(port, nullptr, pszAddr).Connected(); },
                                    timeoutMs);
    return bListening && !Exited(0);
}

bool CDaemonProcess::Exited(int timeoutMs)
{
    if (m_pid <= 0)
        return true;
    return WaitFor([&] { return m_bExited || (m_bExited = waitpid(m_pid, &m_nStatus, WNOHANG) == m_pid); },
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

std::string CDaemonProcess::Out() const { return ReadLocalFile(m_strOut); }

std::string CDaemonProcess::Err() const { return ReadLocalFile(m_strErr); }
