#include "platform/tree.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/common/ownfiles_sys.h"
#include "platform/file.h"
#include "platform/posix/beneath.h"
#include "platform/posix/treewalk.h"

namespace plat {

namespace {

std::string WithoutTrailingSeparators(std::string str)
{
    while (str.size() > 1 && str.back() == '/')
        str.pop_back();
    return str;
}

}  // namespace

bool IsShareRoot(const CShare& share, const std::string& strPath)
{
    CFd dir(OpenBeneath(share, strPath, O_PATH | O_DIRECTORY));
    struct stat st;
    CFileId rootId;
    return dir.Ok() && fstat(dir.Get(), &st) == 0 && ShareRootId(share, rootId) && IdOf(st) == rootId;
}

int DeleteTree(const CShare& share, const std::string& strPath)
{
    // Every file is deleted by the rules of DeleteFile, the daemon's own files kept.
    const COwnFiles own(share);
    const COwnFilesScope ownScope(own);
    std::string strName;
    CFd parent(OpenParentBeneath(share, WithoutTrailingSeparators(strPath), strName));
    struct stat st;
    if (!parent.Ok() || fstatat(parent.Get(), strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;  // nothing there
    if (S_ISLNK(st.st_mode)) {
        DeleteFileAt(parent.Get(), strName.c_str());  // the link itself, nothing it leads to
        return 0;
    }
    CFileId rootId;
    if (!S_ISDIR(st.st_mode) || !ShareRootId(share, rootId))
        return 0;
    CDirChain chain(parent.Release());
    if (chain.Enter(strName) != 0)
        return 0;
    // Judged on the folder opened, not on the path: no later change of the path can make
    // the walk start at the shared folder.
    if (chain.Id() == rootId)
        return -1;
    RemoveEnteredTree(chain, TreeWalk::Delete, true, rootId);
    return 0;
}

// The folder that held the last entry stays open for the entries after it: a list is in
// walk order, so most entries share their folder with the one before.
struct CListedTree::CImpl {
    explicit CImpl(const CShare& shareIn) : share(shareIn), own(share) {}
    CShare share;
    COwnFiles own;  // kept by every deletion
    CFd base;
    CFileId rootId;
    bool bRootKnown = false;
    std::string strHolder;  // the entry folder open in holder, relative to the base
    CFd holder;

    // The folder that holds the entry's last component, reached from the base folder with
    // no link followed, and that component. A descriptor owned by the cache, or -errno.
    int OpenHolder(const std::string& strRel, std::string& strName);
};

int CListedTree::CImpl::OpenHolder(const std::string& strRel, std::string& strName)
{
    if (!base.Ok())
        return base.Get();  // the reason the base could not be opened
    std::vector<std::string> comps;
    for (size_t i = 0; i <= strRel.size();) {
        size_t j = strRel.find('/', i);
        if (j == std::string::npos)
            j = strRel.size();
        std::string strComp = strRel.substr(i, j - i);
        if (strComp == "..")
            return -EACCES;  // never in a list the walk made
        if (!strComp.empty() && strComp != ".")
            comps.push_back(std::move(strComp));
        i = j + 1;
    }
    if (comps.empty())
        return -EINVAL;  // the base folder itself is not an entry below it
    strName = std::move(comps.back());
    comps.pop_back();
    if (comps.empty())
        return base.Get();
    std::string strDir;
    for (const std::string& strComp : comps) {
        strDir += strComp;
        strDir += '/';
    }
    if (holder.Ok() && strDir == strHolder)
        return holder.Get();
    holder = CFd();
    CFd cur;
    for (const std::string& strComp : comps) {
        CFd next(openat(cur.Ok() ? cur.Get() : base.Get(), strComp.c_str(),
                        O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (!next.Ok())
            return -errno;
        if (fstat(next.Get(), &st) != 0 || !S_ISDIR(st.st_mode))
            return -ENOTDIR;  // a link: not followed
        cur = std::move(next);
    }
    holder = std::move(cur);
    strHolder = std::move(strDir);
    return holder.Get();
}

CListedTree::CListedTree(const CShare& share, const std::string& strBase) : m_pImpl(std::make_unique<CImpl>(share))
{
    m_pImpl->base = CFd(OpenBeneath(share, strBase, O_PATH | O_DIRECTORY));
    m_pImpl->bRootKnown = ShareRootId(share, m_pImpl->rootId);
}

CListedTree::~CListedTree() = default;

int CListedTree::DeleteFile(const std::string& strRel)
{
    std::string strName;
    const int dfd = m_pImpl->OpenHolder(strRel, strName);
    const COwnFilesScope ownScope(m_pImpl->own);
    return dfd < 0 ? dfd : DeleteFileAt(dfd, strName.c_str());
}

FolderRemoval CListedTree::RemoveFolder(const std::string& strRel)
{
    std::string strName;
    const int dfd = m_pImpl->OpenHolder(strRel, strName);
    struct stat st;
    if (dfd < 0 || fstatat(dfd, strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return FolderRemoval::Failed;
    if (!m_pImpl->bRootKnown || IdOf(st) == m_pImpl->rootId)
        return FolderRemoval::LeftInPlace;
    // Removed only when empty: rmdir itself refuses a folder that holds anything, and a link.
    if (unlinkat(dfd, strName.c_str(), AT_REMOVEDIR) == 0) {
        m_pImpl->holder = CFd();  // it may have been the folder kept open
        return FolderRemoval::Removed;
    }
    return errno == ENOTEMPTY || errno == EEXIST ? FolderRemoval::LeftInPlace : FolderRemoval::Failed;
}

}  // namespace plat
