#include "platform/posix/copytree.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/common/walk_hook.h"
#include "platform/posix/flushat.h"
#include "platform/posix/beneath.h"
#include "platform/posix/ownid.h"
#include "platform/posix/treewalk.h"

namespace plat {

namespace {

// The permission bits a copied folder keeps: never set-user-ID or set-group-ID.
constexpr mode_t kCopiedModeBits = 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID);

bool IsReadOnlyFile(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0; }

// Copies one link as a link. 0 or -1.
int CopyLinkAt(int srcDir, const char* pszSrc, int dstDir, const char* pszDst)
{
    if (IsOwnPlaceInOperation(dstDir, pszDst))
        return -1;  // a link never takes the place of one of the daemon's own files
    struct stat dstSt;
    if (fstatat(dstDir, pszDst, &dstSt, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(dstSt.st_mode) || IsReadOnlyFile(dstSt) || unlinkat(dstDir, pszDst, 0) != 0)
            return -1;
    }
    std::string strTarget(4096, '\0');
    ssize_t n = readlinkat(srcDir, pszSrc, strTarget.data(), strTarget.size());
    if (n < 0 || static_cast<size_t>(n) >= strTarget.size())
        return -1;
    strTarget.resize(static_cast<size_t>(n));
    return symlinkat(strTarget.c_str(), dstDir, pszDst) == 0 ? 0 : -1;
}

// Makes the folder that receives a copied folder (or takes the one already there).
int MakeCopyDir(int dstDir, const char* pszDst, const struct stat& st)
{
    struct stat dstSt;
    if (fstatat(dstDir, pszDst, &dstSt, AT_SYMLINK_NOFOLLOW) == 0)
        return S_ISDIR(dstSt.st_mode) ? 0 : -1;
    return mkdirat(dstDir, pszDst, st.st_mode & kCopiedModeBits) == 0 ? 0 : -1;
}

// One item of a copy: a link is copied, a file joins the batch of its folder; for a
// folder the receiving folder is made and bFolder set, for the walk to enter both. 0 or -1.
int CopyEntry(int srcDir, const std::string& strSrcName, CCopyBatch& batch, int dstDir, const std::string& strDstName,
              bool& bFolder)
{
    bFolder = false;
    struct stat st;
    if (fstatat(srcDir, strSrcName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    if (S_ISLNK(st.st_mode))
        return CopyLinkAt(srcDir, strSrcName.c_str(), dstDir, strDstName.c_str());
    if (S_ISDIR(st.st_mode)) {
        bFolder = true;
        return MakeCopyDir(dstDir, strDstName.c_str(), st);
    }
    if (!S_ISREG(st.st_mode))
        return -1;  // devices, pipes and sockets are not copied
    return batch.Add(srcDir, strSrcName.c_str(), st, strDstName.c_str());
}

// Copies every entry of the folder the source chain is in into the one the destination
// chain is in (strToPath: its local path), flushes that folder, and returns the
// subfolders (made on both sides) to enter next. rc becomes -1 when something could not
// be copied.
std::vector<std::string> CopyEntries(CDirChain& from, CDirChain& to, const std::string& strToPath,
                                     const CCopyRun& run, int& rc)
{
    std::vector<CDirName> names;
    std::vector<std::string> folders;
    if (!ReadNames(from.Fd(), names)) {
        rc = -1;
        return folders;
    }
    CallTreeWalkHook(TreeWalk::Copy, from.Depth() - 1);
    CCopyBatch batch(run, to.Fd(), strToPath);
    for (CDirName& name : names) {
        if (IsCopyTemporaryName(name.strName))
            continue;  // another copy's file, not whole yet
        bool bFolder = false;
        if (CopyEntry(from.Fd(), name.strName, batch, to.Fd(), name.strName, bFolder) != 0)
            rc = -1;
        else if (bFolder)
            folders.push_back(std::move(name.strName));
        if (batch.Full() && batch.Settle() != 0)
            rc = -1;
    }
    if (batch.Settle() != 0 || (!names.empty() && FlushFolderAt(to.Fd()) != 0))
        rc = -1;
    return folders;
}

}  // namespace

int CopyItem(const CShare& share, const std::string& strSrc, const std::string& strDst, const CCopyRun& run)
{
    std::string strSrcName, strDstName;
    CFd srcParent(OpenParentBeneath(share, strSrc, strSrcName));
    CFd dstParent(OpenParentBeneath(share, strDst, strDstName));
    if (!srcParent.Ok() || !dstParent.Ok())
        return -1;
    const size_t nSlash = strDst.rfind('/');
    const std::string strDstFolder = nSlash == std::string::npos ? std::string() : strDst.substr(0, nSlash);
    bool bFolder = false;
    {
        CCopyBatch batch(run, dstParent.Get(), strDstFolder);
        if (CopyEntry(srcParent.Get(), strSrcName, batch, dstParent.Get(), strDstName, bFolder) != 0 ||
            batch.Settle() != 0 || FlushFolderAt(dstParent.Get()) != 0)
            return -1;
    }
    if (!bFolder)
        return 0;
    // Both trees walked together, depth first, one list of subfolders per level (never
    // by recursion: the depth is the file system's to choose).
    CDirChain from(srcParent.Release()), to(dstParent.Release());
    if (from.Enter(strSrcName) != 0 || to.Enter(strDstName) != 0)
        return -1;
    std::string strToPath = strDst;
    int rc = 0;
    std::vector<std::vector<std::string>> pending;
    pending.push_back(CopyEntries(from, to, strToPath, run, rc));
    while (!pending.empty()) {
        if (!pending.back().empty()) {
            const std::string strName = std::move(pending.back().back());
            pending.back().pop_back();
            if (from.Enter(strName) != 0) {
                rc = -1;  // no longer a folder: nothing of it is copied
            } else if (to.Enter(strName) != 0) {
                rc = -1;
                if (from.Leave() < 0)
                    return -1;
            } else {
                strToPath += '/';
                strToPath += strName;
                pending.push_back(CopyEntries(from, to, strToPath, run, rc));
            }
            continue;
        }
        pending.pop_back();
        if (pending.empty())
            break;
        if (from.Leave() < 0 || to.Leave() < 0)
            return -1;  // the way back up is not the way down: stop
        strToPath.resize(strToPath.rfind('/'));
    }
    return rc;
}

}  // namespace plat
