#include "platform/posix/heldfiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/posix/treewalk.h"
#include "platform/shellop.h"

namespace plat {

void CHeldFiles::Release()
{
    for (int fd : m_fds)
        close(fd);
    m_fds.clear();
    m_ullBytes = 0;
}

bool CHeldFiles::TakeFile(int dirFd, const char* pszName)
{
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd = openat(dirFd, pszName, O_RDONLY | kFlags);
    if (fd < 0 && errno == EACCES)
        fd = openat(dirFd, pszName, O_WRONLY | kFlags);
    if (fd < 0)
        return true;  // no opener of ours can open it either; the operation meets it as it is
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return true;
    }
    if (flock(fd, (m_bExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    m_ullBytes += static_cast<uint64_t>(st.st_size);
    if (m_fds.size() < kMaxHeld)
        m_fds.push_back(fd);
    else
        close(fd);
    return true;
}

int CHeldFiles::TakeTree(int parentFd, const std::string& strName)
{
    const int baseFd = fcntl(parentFd, F_DUPFD_CLOEXEC, 0);
    if (baseFd < 0)
        return -1;
    CDirChain chain(baseFd);
    if (chain.Enter(strName) != 0)
        return -1;
    // The folders still to enter: one list for each folder of the chain, from the top down.
    std::vector<std::vector<std::string>> pending(1);
    bool bEntered = true;
    while (!pending.empty()) {
        if (bEntered) {
            bEntered = false;
            std::vector<CDirName> names;
            if (!ReadNames(chain.Fd(), names))
                return -1;
            for (CDirName& name : names) {
                struct stat st;
                if (IsCopyTemporaryName(name.strName) ||
                    fstatat(chain.Fd(), name.strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                if (S_ISDIR(st.st_mode))
                    pending.back().push_back(std::move(name.strName));
                else if (S_ISREG(st.st_mode) && !TakeFile(chain.Fd(), name.strName.c_str()))
                    return -1;
            }
        }
        if (!pending.back().empty()) {
            const std::string strFolder = std::move(pending.back().back());
            pending.back().pop_back();
            if (chain.Enter(strFolder) == 0) {
                pending.emplace_back();
                bEntered = true;
            }
            continue;
        }
        pending.pop_back();
        if (!pending.empty() && chain.Leave() < 0)
            return -1;  // the way back up is not the way down
    }
    return 0;
}

int CHeldFiles::Take(int parentFd, const std::string& strName)
{
    struct stat st;
    int rc = 0;
    if (fstatat(parentFd, strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        rc = -1;
    else if (S_ISREG(st.st_mode))
        rc = TakeFile(parentFd, strName.c_str()) ? 0 : -1;
    else if (S_ISDIR(st.st_mode))
        rc = TakeTree(parentFd, strName);
    if (rc != 0)
        Release();
    return rc;
}

}  // namespace plat
