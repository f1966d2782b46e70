#include "platform/posix/treewalk.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

#include "platform/common/walk_hook.h"

namespace plat {

namespace {

// Descriptors a chain keeps open below its base. A local user can make a tree thousands
// of folders deep; every session may run a walk, and a copy runs two chains.
constexpr size_t kMaxOpenLevels = 24;

}  // namespace

bool ShareRootId(const CShare& share, CFileId& id)
{
    struct stat st;
    if (share.strRoot.empty() || stat(share.strRoot.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    id = IdOf(st);
    return true;
}

bool ReadNames(int dfd, std::vector<CDirName>& names)
{
    names.clear();
    // A descriptor of its own for the stream, which closes it; the folder's stays open.
    const int fd = fcntl(dfd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return false;
    DIR* pDir = fdopendir(fd);
    if (pDir == nullptr) {
        close(fd);
        return false;
    }
    rewinddir(pDir);
    while (dirent* pEnt = readdir(pDir)) {
        const char* psz = pEnt->d_name;
        if (psz[0] == '.' && (psz[1] == '\0' || (psz[1] == '.' && psz[2] == '\0')))
            continue;
        names.push_back({psz, pEnt->d_type});
    }
    closedir(pDir);
    return true;
}

CDirChain::CDirChain(int baseFd) { m_levels.push_back({baseFd, CFileId{}, std::string()}); }

CDirChain::~CDirChain()
{
    for (const CLevel& level : m_levels) {
        if (level.fd >= 0)
            close(level.fd);
    }
}

int CDirChain::Enter(const std::string& strName)
{
    const int fd = openat(Fd(), strName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        const int nErr = errno;
        close(fd);
        return -nErr;
    }
    m_levels.push_back({fd, IdOf(st), strName});
    if (m_levels.size() - m_nFirstOpen > kMaxOpenLevels) {
        CLevel& shallowest = m_levels[m_nFirstOpen++];
        close(shallowest.fd);
        shallowest.fd = -1;
    }
    return 0;
}

int CDirChain::Leave()
{
    if (m_levels.size() < 2)
        return -1;
    CLevel& above = m_levels[m_levels.size() - 2];
    if (above.fd < 0) {
        // Closed on the way down: open it again from below, and make sure it is the same
        // folder (the folder left may have been moved elsewhere meanwhile).
        const int fd = openat(Fd(), "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st;
        if (fd < 0)
            return -1;
        if (fstat(fd, &st) != 0 || !(IdOf(st) == above.id)) {
            close(fd);
            return -1;
        }
        above.fd = fd;
        m_nFirstOpen = m_levels.size() - 2;
    }
    close(m_levels.back().fd);
    m_levels.pop_back();
    if (m_nFirstOpen > m_levels.size())
        m_nFirstOpen = m_levels.size();
    return Fd();
}

namespace {

// Removes one name that is not a folder (or is none any more). 0 or -1.
int RemoveName(int dfd, const std::string& strName, bool bKeepRules)
{
    if (bKeepRules)
        return DeleteFileAt(dfd, strName.c_str()) == 0 ? 0 : -1;
    return unlinkat(dfd, strName.c_str(), 0) == 0 ? 0 : -1;
}

// Reads the names of the deepest folder, removes all that are not folders, and returns
// the folders, to be entered one after the other. rc becomes -1 when something stays.
std::vector<std::string> RemoveFiles(CDirChain& chain, int nTopDepth, TreeWalk eWalk, bool bKeepRules, int& rc)
{
    std::vector<CDirName> names;
    std::vector<std::string> folders;
    if (!ReadNames(chain.Fd(), names)) {
        rc = -1;
        return folders;
    }
    CallTreeWalkHook(eWalk, chain.Depth() - nTopDepth);
    for (CDirName& name : names) {
        bool bDir = name.ucType == DT_DIR;
        if (name.ucType == DT_UNKNOWN) {
            struct stat st;
            bDir = fstatat(chain.Fd(), name.strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (bDir)
            folders.push_back(std::move(name.strName));
        else if (RemoveName(chain.Fd(), name.strName, bKeepRules) != 0)
            rc = -1;
    }
    return folders;
}

}  // namespace

int RemoveEnteredTree(CDirChain& chain, TreeWalk eWalk, bool bKeepRules, const CFileId& rootId)
{
    const int nTopDepth = chain.Depth();
    int rc = 0;
    // The folders still to enter: one list for each folder of the chain, from the top down.
    std::vector<std::vector<std::string>> pending;
    pending.push_back(RemoveFiles(chain, nTopDepth, eWalk, bKeepRules, rc));
    while (!pending.empty()) {
        if (!pending.back().empty()) {
            const std::string strName = std::move(pending.back().back());
            pending.back().pop_back();
            const int nEnter = chain.Enter(strName);
            if (nEnter == 0 && chain.Id() == rootId) {
                // Only wide links lead here: the shared folder is never emptied.
                rc = -1;
                if (chain.Leave() < 0)
                    return -1;
            } else if (nEnter == 0) {
                pending.push_back(RemoveFiles(chain, nTopDepth, eWalk, bKeepRules, rc));
            } else if (nEnter == -ELOOP || nEnter == -ENOTDIR) {
                // No longer a folder (swapped for a link, say): removed as what it is now.
                if (RemoveName(chain.Fd(), strName, bKeepRules) != 0)
                    rc = -1;
            } else {
                rc = -1;
            }
            continue;
        }
        // Everything below the deepest folder is done: the folder itself goes (or stays,
        // holding what could not be removed).
        pending.pop_back();
        const std::string strName = chain.Name();
        const int parentFd = chain.Leave();
        if (parentFd < 0)
            return -1;  // the way back up is not the way down: stop, as fts does
        if (unlinkat(parentFd, strName.c_str(), AT_REMOVEDIR) != 0)
            rc = -1;
    }
    return rc;
}

}  // namespace plat
