#include "platform/process.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/procfs.h"

namespace plat {

std::string GetCurrentDir()
{
    char szDir[PATH_MAX];
    return getcwd(szDir, sizeof(szDir)) != nullptr ? std::string(szDir) : std::string();
}

bool PathExists(const std::string& strPath)
{
    struct stat st;
    return lstat(strPath.c_str(), &st) == 0;
}

std::string CanonicalPath(const std::string& strPath)
{
    char szResolved[PATH_MAX];
    return realpath(strPath.c_str(), szResolved) != nullptr ? std::string(szResolved) : std::string();
}

namespace {

constexpr int kStarted = 33;
constexpr int kFileNotFound = 2;
constexpr int kAccessDenied = 5;
constexpr int kOtherFailure = 31;

// What the started program reports first through the pipe: its id (the id of its new
// session and group) and its start time.
struct StartRecord {
    int nPid;
    unsigned long long ullStart;
};

// Reads exactly nSize bytes unless the pipe closes first; the number read.
size_t ReadFull(int fd, void* pBuf, size_t nSize)
{
    size_t nDone = 0;
    while (nDone < nSize) {
        ssize_t n = read(fd, static_cast<char*>(pBuf) + nDone, nSize - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        nDone += static_cast<size_t>(n);
    }
    return nDone;
}

// Runs in the grandchild: becomes its own session, reports its id and start time, moves
// into the folder, puts its standard streams on /dev/null and runs the program. On
// failure it reports errno through the pipe and exits. Only async-signal-safe calls: the
// daemon has other threads.
[[noreturn]] void ExecDetached(const char* pszFile, const std::string& strDir, int nErrPipe)
{
    setsid();
    StartRecord rec;
    memset(&rec, 0, sizeof(rec));
    rec.nPid = static_cast<int>(getpid());
    ProcStat self;
    if (ReadProcStat("/proc/self/stat", self))
        rec.ullStart = self.ullStart;
    ssize_t n = write(nErrPipe, &rec, sizeof(rec));
    int nErr = 0;
    if (chdir(strDir.c_str()) != 0) {
        nErr = errno;
    } else {
        int nNull = open("/dev/null", O_RDWR);
        if (nNull >= 0) {
            dup2(nNull, 0);
            dup2(nNull, 1);
            dup2(nNull, 2);
            if (nNull > 2)
                close(nNull);
        }
        // The daemon blocks its termination signals; the server starts with none blocked.
        sigset_t set;
        sigemptyset(&set);
        sigprocmask(SIG_SETMASK, &set, nullptr);
        signal(SIGPIPE, SIG_DFL);
        signal(SIGXFSZ, SIG_DFL);
        char* argv[] = {const_cast<char*>(pszFile), nullptr};
        execv(pszFile, argv);
        nErr = errno;
    }
    n = write(nErrPipe, &nErr, sizeof(nErr));
    (void)n;
    _exit(127);
}

}  // namespace

int StartDetached(const char* pszFile, const std::string& strDir, DetachedGroup* pGroup)
{
    std::string strPath = pszFile[0] == '/' ? std::string(pszFile) : strDir + "/" + pszFile;
    if (!PathExists(strPath))
        return kFileNotFound;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return kOtherFailure;
    // Two forks: the server is adopted by init at once and never becomes our zombie.
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return kOtherFailure;
    }
    if (pid == 0) {
        close(fds[0]);
        pid_t grandchild = fork();
        if (grandchild == 0)
            ExecDetached(strPath.c_str(), strDir, fds[1]);
        _exit(grandchild < 0 ? 1 : 0);
    }
    close(fds[1]);
    int nStatus = 0;
    while (waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    StartRecord rec;
    const size_t nRec = ReadFull(fds[0], &rec, sizeof(rec));
    int nErr = 0;
    const size_t nErrBytes = ReadFull(fds[0], &nErr, sizeof(nErr));
    close(fds[0]);
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0 || nRec != sizeof(rec))
        return kOtherFailure;
    if (nErrBytes == 0) {
        // The pipe closed on a successful exec.
        if (pGroup != nullptr) {
            pGroup->nGroup = rec.nPid;
            pGroup->ullStart = rec.ullStart;
        }
        return kStarted;
    }
    if (nErr == ENOENT)
        return kFileNotFound;
    if (nErr == EACCES || nErr == EPERM || nErr == ENOEXEC)
        return kAccessDenied;
    return kOtherFailure;
}

}  // namespace plat
