// Finding and stopping processes through /proc.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/posix/procfs.h"
#include "platform/process.h"

namespace plat {

namespace {

const char* SkipSpaces(const char* p)
{
    while (*p == ' ')
        ++p;
    return p;
}

// The next field of a line of space-separated fields.
const char* NextField(const char* p)
{
    while (*p != '\0' && *p != ' ')
        ++p;
    return SkipSpaces(p);
}

// A decimal number at p; false when p holds none.
bool ParseNumber(const char* p, unsigned long long& ullValue)
{
    if (*p < '0' || *p > '9')
        return false;
    ullValue = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        ullValue = ullValue * 10 + static_cast<unsigned>(*p - '0');
    return true;
}

const char* BaseName(const char* pszPath)
{
    const char* pSlash = strrchr(pszPath, '/');
    return pSlash != nullptr ? pSlash + 1 : pszPath;
}

std::string ProcDir(int nPid) { return "/proc/" + std::to_string(nPid); }

// The real user of the process, from the first number of the "Uid:" line of its status.
bool ReadRealUid(int nPid, uid_t& uid)
{
    FILE* pStatus = fopen((ProcDir(nPid) + "/status").c_str(), "re");
    if (pStatus == nullptr)
        return false;
    bool bFound = false;
    char szLine[256];
    while (!bFound && fgets(szLine, sizeof(szLine), pStatus) != nullptr) {
        unsigned long long ullUid = 0;
        if (strncmp(szLine, "Uid:", 4) == 0 && ParseNumber(szLine + 4 + strspn(szLine + 4, " \t"), ullUid)) {
            uid = static_cast<uid_t>(ullUid);
            bFound = true;
        }
    }
    fclose(pStatus);
    return bFound;
}

// True when one line of /proc/PID/maps ("address perms offset dev inode path") maps a
// file of this base name executable.
bool MapsModuleExecutable(const char* pszLine, const char* pszModule)
{
    const char* pPerms = NextField(pszLine);
    const char* pPath = NextField(NextField(NextField(NextField(pPerms))));
    return strlen(pPerms) > 2 && pPerms[2] == 'x' && pPath[0] == '/' && strcmp(BaseName(pPath), pszModule) == 0;
}

}  // namespace

bool ReadProcStat(const char* pszPath, ProcStat& stat)
{
    int fd = open(pszPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char szBuf[1024];
    ssize_t n;
    do {
        n = read(fd, szBuf, sizeof(szBuf) - 1);
    } while (n < 0 && errno == EINTR);
    close(fd);
    if (n <= 0)
        return false;
    szBuf[n] = '\0';
    // "pid (comm) state ppid pgrp session ... starttime ...": the command name may hold
    // spaces and parentheses, so the fields are counted from its last ')'.
    const char* p = strrchr(szBuf, ')');
    if (p == nullptr)
        return false;
    p = SkipSpaces(p + 1);  // field 3, the state
    unsigned long long ullGroup = 0;
    for (int nField = 3; nField < 5; ++nField)
        p = NextField(p);
    if (!ParseNumber(p, ullGroup))
        return false;
    for (int nField = 5; nField < 22; ++nField)
        p = NextField(p);
    if (!ParseNumber(p, stat.ullStart))
        return false;
    stat.nGroup = static_cast<int>(ullGroup);
    return true;
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

int CurrentProcessId() { return static_cast<int>(getpid()); }

bool IsOwnProcess(int nPid)
{
    uid_t uid = 0;
    return ReadRealUid(nPid, uid) && uid == getuid();
}

bool ProcessHasModuleName(int nPid, const char* pszModule)
{
    const std::string strProc = ProcDir(nPid);
    char szLink[PATH_MAX];
    ssize_t n = readlink((strProc + "/exe").c_str(), szLink, sizeof(szLink) - 1);
    if (n > 0) {
        szLink[n] = '\0';
        if (strcmp(BaseName(szLink), pszModule) == 0)
            return true;
    }
    if (FILE* pComm = fopen((strProc + "/comm").c_str(), "re")) {
        char szComm[64] = {};
        const bool bRead = fgets(szComm, sizeof(szComm), pComm) != nullptr;
        fclose(pComm);
        szComm[strcspn(szComm, "\n")] = '\0';
        if (bRead && strcmp(szComm, pszModule) == 0)
            return true;
    }
    FILE* pMaps = fopen((strProc + "/maps").c_str(), "re");
    if (pMaps == nullptr)
        return false;
    bool bFound = false;
    char* pszLine = nullptr;
    size_t nCapacity = 0;
    ssize_t nLen;
    // Whole lines however long (a path may be up to PATH_MAX), so that the tail of one
    // is never read as a line of its own.
    while (!bFound && (nLen = getline(&pszLine, &nCapacity, pMaps)) > 0) {
        if (pszLine[nLen - 1] == '\n')
            pszLine[nLen - 1] = '\0';
        bFound = MapsModuleExecutable(pszLine, pszModule);
    }
    free(pszLine);
    fclose(pMaps);
    return bFound;
}

int KillOwnProcessWithModule(int nPid, const char* pszModule)
{
    // A descriptor of the process itself: should it end after the checks and its id go
    // to another process, the signal fails instead of reaching the newcomer.
    const int nPidFd = static_cast<int>(syscall(SYS_pidfd_open, nPid, 0));
    if (nPidFd < 0 && errno != ENOSYS)
        return 0;  // gone already
    int nResult = 0;
    if (IsOwnProcess(nPid) && ProcessHasModuleName(nPid, pszModule)) {
        const long rc = nPidFd >= 0 ? syscall(SYS_pidfd_send_signal, nPidFd, SIGKILL, nullptr, 0)
                                    : kill(nPid, SIGKILL);
        nResult = rc == 0 ? 1 : -1;
    }
    if (nPidFd >= 0)
        close(nPidFd);
    return nResult;
}

int KillProcessGroup(const DetachedGroup& group)
{
    if (group.nGroup <= 0)
        return 0;
    std::vector<int> pids;
    if (!ListProcesses(pids))
        return -1;
    // The kernel gives no id to a new process while a group of that id has members, so
    // a group whose members are all ours and whose leader (if still there) is the one
    // started is still that group.
    bool bMembers = false;
    for (int nPid : pids) {
        ProcStat stat;
        uid_t uid = 0;
        if (!ReadProcStat((ProcDir(nPid) + "/stat").c_str(), stat) || stat.nGroup != group.nGroup ||
            !ReadRealUid(nPid, uid))
            continue;  // another group, or ended meanwhile
        if (uid != getuid() || (nPid == group.nGroup && stat.ullStart != group.ullStart))
            return -1;
        bMembers = true;
    }
    if (!bMembers)
        return 0;
    if (kill(-group.nGroup, SIGKILL) == 0)
        return 1;
    return errno == ESRCH ? 0 : -1;
}


}  // namespace plat
