#include "platform/process.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

namespace {

constexpr int kStarted = 33;
constexpr int kFileNotFound = 2;
constexpr int kAccessDenied = 5;
constexpr int kOtherFailure = 31;

// Runs in the grandchild: becomes its own session, moves into the folder, puts its
// standard streams on /dev/null and runs the program. On failure it reports errno
// through the pipe and exits.
[[noreturn]] void ExecDetached(const char* pszFile, const std::string& strDir, int nErrPipe)
{
    setsid();
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
    ssize_t n = write(nErrPipe, &nErr, sizeof(nErr));
    (void)n;
    _exit(127);
}

}  // namespace

int StartDetached(const char* pszFile, const std::string& strDir)
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
    int nErr = 0;
    ssize_t n;
    do {
        n = read(fds[0], &nErr, sizeof(nErr));
    } while (n < 0 && errno == EINTR);
    close(fds[0]);
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0)
        return kOtherFailure;
    if (n == 0)
        return kStarted;  // the pipe closed on a successful exec
    if (nErr == ENOENT)
        return kFileNotFound;
    if (nErr == EACCES || nErr == EPERM || nErr == ENOEXEC)
        return kAccessDenied;
    return kOtherFailure;
}

bool ListProcesses(std::vector<int>& pids)
{
    pids.clear();
    DIR* pDir = opendir("/proc");
    if (pDir == nullptr)
        return false;
    while (dirent* pEnt = readdir(pDir)) {
        char* pEnd = nullptr;
        long nPid = strtol(pEnt->d_name, &pEnd, 10);
        if (*pEnd == '\0' && nPid > 0)
            pids.push_back(static_cast<int>(nPid));
    }
    closedir(pDir);
    return true;
}

namespace {

const char* BaseName(const char* pszPath)
{
    const char* pSlash = strrchr(pszPath, '/');
    return pSlash != nullptr ? pSlash + 1 : pszPath;
}

}  // namespace

bool ProcessHasModuleName(int nPid, const char* pszModule)
{
    const std::string strProc = "/proc/" + std::to_string(nPid);
    char szLink[PATH_MAX];
    ssize_t n = readlink((strProc + "/exe").c_str(), szLink, sizeof(szLink) - 1);
    if (n > 0) {
        szLink[n] = '\0';
        if (strcmp(BaseName(szLink), pszModule) == 0)
            return true;
    }
    if (FILE* pComm = fopen((strProc + "/comm").c_str(), "re")) {
        char szComm[64] = {};
        if (fgets(szComm, sizeof(szComm), pComm) != nullptr) {
            szComm[strcspn(szComm, "\n")] = '\0';
            if (strcmp(szComm, pszModule) == 0) {
                fclose(pComm);
                return true;
            }
        }
        fclose(pComm);
    }
    FILE* pMaps = fopen((strProc + "/maps").c_str(), "re");
    if (pMaps == nullptr)
        return false;
    bool bFound = false;
    char szLine[PATH_MAX + 128];
    while (!bFound && fgets(szLine, sizeof(szLine), pMaps) != nullptr) {
        szLine[strcspn(szLine, "\n")] = '\0';
        const char* pPath = strchr(szLine, '/');
        bFound = pPath != nullptr && strcmp(BaseName(pPath), pszModule) == 0;
    }
    fclose(pMaps);
    return bFound;
}

int KillProcess(int nPid) { return kill(nPid, SIGKILL) == 0 ? 0 : -1; }

}  // namespace plat
