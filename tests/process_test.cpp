// Which processes the launcher takes for a server and may stop: modules that are loaded
// (not data files that happen to share the name), our own user's processes only, and a
// started group only while it is still the one started.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/launcher.h"
#include "platform/process.h"
#include "test_util.h"

namespace {

constexpr uid_t kNobody = 65534;

// Field n (1-based) of /proc/PID/stat, counted from the command name's last ')'; -1 when
// unreadable.
long long StatField(int nPid, int nField)
{
    std::ifstream in("/proc/" + std::to_string(nPid) + "/stat");
    std::string strStat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t nParen = strStat.rfind(')');
    if (nParen == std::string::npos)
        return -1;
    std::istringstream fields(strStat.substr(nParen + 2));
    std::string strField;
    for (int i = 3; i <= nField && fields >> strField; ++i) {
        if (i == nField)
            return std::stoll(strField);
    }
    return -1;
}

// The real user of the process, or -1.
long long RealUid(int nPid)
{
    std::ifstream in("/proc/" + std::to_string(nPid) + "/status");
    for (std::string strLine; std::getline(in, strLine);) {
        if (strLine.rfind("Uid:", 0) == 0)
            return std::stoll(strLine.substr(4));
    }
    return -1;
}

// A child that names itself pszComm, leads a session of its own when asked, takes
// uidReal as its real user (the effective one stays ours) and waits to be signalled.
// Only async-signal-safe calls after the fork: the test process has threads.
pid_t StartChild(const char* pszComm, bool bOwnSession, uid_t uidReal)
{
    pid_t pid = fork();
    if (pid == 0) {
        sigset_t set;
        sigemptyset(&set);
        sigprocmask(SIG_SETMASK, &set, nullptr);
        if (bOwnSession)
            setsid();
        prctl(PR_SET_NAME, pszComm);
        // The raw call: the wrapper's all-threads protocol has no business in a forked child.
        if (uidReal != getuid() && syscall(SYS_setresuid, uidReal, -1, -1) != 0)
            _exit(1);
        for (;;)
            pause();
    }
    const std::string strComm = std::string(pszComm) + "\n";
    EXPECT_TRUE(WaitFor([&] {
        return ReadLocalFile("/proc/" + std::to_string(pid) + "/comm") == strComm && RealUid(pid) == uidReal &&
               (!bOwnSession || StatField(pid, 5) == pid);
    }));
    return pid;
}

// Ends the child with SIGTERM and tells whether something else had sent it SIGKILL first.
bool WasKilled(pid_t pid)
{
    kill(pid, SIGTERM);
    int nStatus = 0;
    while (waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    return WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGKILL;
}

}  // namespace

TEST(ProcessModules, DataFileOfTheNameIsNoModule)
{
    CTempShare share;
    const std::string strPath = share.Root() + "/corvane-probe.dll";
    WriteLocalFile(strPath, std::string(4096, '\0'));
    struct Case {
        int nProt;
        bool bModule;
    };
    for (const Case& c : {Case{PROT_READ, false}, Case{PROT_READ | PROT_EXEC, true}}) {
        SCOPED_TRACE(c.nProt);
        int fd = open(strPath.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        void* p = mmap(nullptr, 4096, c.nProt, MAP_PRIVATE, fd, 0);
        close(fd);
        ASSERT_NE(p, MAP_FAILED);
        EXPECT_EQ(ProcessHasModule(getpid(), "corvane-probe.dll"), c.bModule);
        EXPECT_FALSE(ProcessHasModule(getpid(), "CORVANE-PROBE.DLL"));
        munmap(p, 4096);
    }
}

TEST(ProcessModules, OnlyOurOwnUsersProcessesAreStopped)
{
    for (uid_t uid : {getuid(), kNobody}) {
        SCOPED_TRACE(uid);
        if (uid != getuid() && getuid() != 0) {
            GTEST_SKIP() << "another user's process needs root to make";
        }
        pid_t pid = StartChild("corvane-probe", false, uid);
        EXPECT_EQ(KillProcessesByModule("corvane-probe"), 1);
        EXPECT_EQ(WasKilled(pid), uid == getuid());
    }
}

TEST(ProcessGroup, ReusedOrForeignGroupIsNotSignalled)
{
    struct Case {
        const char* pszWhat;
        bool bSameStart;
        uid_t uidReal;
        bool bKilled;
    };
    const Case cases[] = {
        {"the group started", true, getuid(), true},
        {"a later leader with the same id", false, getuid(), false},
        {"a member of another user", true, kNobody, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        if (c.uidReal != getuid() && getuid() != 0)
            continue;  // another user's process needs root to make
        pid_t pid = StartChild("corvane-group", true, c.uidReal);
        plat::DetachedGroup group;
        group.nGroup = pid;
        group.ullStart = static_cast<unsigned long long>(StatField(pid, 22)) + (c.bSameStart ? 0 : 1);
        EXPECT_EQ(plat::KillProcessGroup(group), c.bKilled ? 1 : -1);
        EXPECT_EQ(WasKilled(pid), c.bKilled);
        EXPECT_EQ(plat::KillProcessGroup(group), 0);  // gone
    }
}
