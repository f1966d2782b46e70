#include "platform/instance.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

// Opens the folder when it is one of ours that no other user may write in (no group
// or other write permission), so that nobody else can plant or swap the lock file.
// The checks are made on the opened folder, and the lock is opened relative to it.
// -1 otherwise.
int OpenPrivateFolder(const std::string& strDir)
{
    if (strDir.empty())
        return -1;
    int fd = open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The settings folder, made (0700, parents too) when missing unless bMake is false;
// empty when there is no home to put it in.
std::string SettingsFolder(bool bMake)
{
    const char* pszXdg = getenv("XDG_CONFIG_HOME");
    const char* pszHome = getenv("HOME");
    std::string strRoot;
    if (pszXdg != nullptr && *pszXdg != '\0')
        strRoot = pszXdg;
    else if (pszHome != nullptr && *pszHome != '\0')
        strRoot = std::string(pszHome) + "/.config";
    else
        return std::string();
    const std::string strDir = strRoot + "/Corvane";
    for (size_t i = 1; bMake && i <= strDir.size(); ++i) {
        if (i == strDir.size() || strDir[i] == '/')
            mkdir(strDir.substr(0, i).c_str(), 0700);  // an existing part is fine; the check follows
    }
    return strDir;
}

// The first private folder of the list, opened; its path in strDir. -1 when none. The
// settings folder is made when missing unless bMake is false.
int OpenLockFolder(std::string& strDir, bool bMake = true)
{
    const char* pszRuntime = getenv("XDG_RUNTIME_DIR");
    if (pszRuntime != nullptr && *pszRuntime != '\0') {
        strDir = pszRuntime;
        int fd = OpenPrivateFolder(strDir);
        if (fd >= 0)
            return fd;
    }
    strDir = "/run/user/" + std::to_string(getuid());
    int fd = OpenPrivateFolder(strDir);
    if (fd >= 0)
        return fd;
    strDir = SettingsFolder(bMake);
    return OpenPrivateFolder(strDir);
}

std::string LockName(const char* pszName) { return std::string(pszName) + ".lock"; }

// The guard this process holds: its name and its file. Set once, when it is taken.
struct CHeldGuard {
    std::mutex lock;
    std::string strName, strPath;
};

CHeldGuard& HeldGuard()
{
    static CHeldGuard s_held;
    return s_held;
}

}  // namespace

std::string InstanceGuardPath(const char* pszName)
{
    std::string strDir;
    int fd = OpenLockFolder(strDir);
    if (fd < 0)
        return std::string();
    close(fd);
    return strDir + "/" + LockName(pszName);
}

std::string InstanceGuardFile(const char* pszName)
{
    {
        CHeldGuard& held = HeldGuard();
        std::lock_guard<std::mutex> guard(held.lock);
        if (!held.strPath.empty() && held.strName == pszName)
            return held.strPath;
    }
    std::string strDir;
    int fd = OpenLockFolder(strDir, false);
    if (fd < 0)
        return std::string();
    close(fd);
    return strDir + "/" + LockName(pszName);
}

int AcquireInstanceGuard(const char* pszName)
{
    std::string strDir;
    const int nDir = OpenLockFolder(strDir);
    if (nDir < 0) {
        fprintf(stderr, "corvane: no folder of this user only for the single-instance lock; running without it\n");
        return -1;
    }
    const std::string strName = LockName(pszName);
    const std::string strPath = strDir + "/" + strName;
    // Never through a link, never blocking on a FIFO someone left there.
    int fd = openat(nDir, strName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    const int nOpenErr = errno;
    close(nDir);
    if (fd < 0) {
        if (nOpenErr == ELOOP) {
            fprintf(stderr, "corvane: the single-instance lock %s is a link; not starting\n", strPath.c_str());
            return 0;
        }
        fprintf(stderr, "corvane: cannot open the single-instance lock %s (%s); running without it\n",
                strPath.c_str(), strerror(nOpenErr));
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        fprintf(stderr, "corvane: the single-instance lock %s is not a file of this user; not starting\n",
                strPath.c_str());
        close(fd);
        return 0;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return 0;
    }
    // The descriptor stays open, and the lock held, until the process ends.
    CHeldGuard& held = HeldGuard();
    std::lock_guard<std::mutex> guard(held.lock);
    held.strName = pszName;
    held.strPath = strPath;
    return 1;
}

}  // namespace plat
