#include "platform/shellop.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/common/ownfiles_sys.h"
#include "platform/posix/beneath.h"
#include "platform/posix/copytree.h"
#include "platform/posix/flushat.h"
#include "platform/posix/heldfiles.h"
#include "platform/posix/ownid.h"
#include "platform/posix/treewalk.h"

namespace plat {

namespace {

bool IsReadOnlyFile(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0; }

std::string WithoutTrailingSeparators(std::string str)
{
    while (str.size() > 1 && str.back() == '/')
        str.pop_back();
    return str;
}

std::string BaseName(const std::string& str)
{
    const size_t n = str.rfind('/');
    return n == std::string::npos ? str : str.substr(n + 1);
}

// True when the volume that would receive the copy has room for ullNeed bytes.
bool HasRoomFor(int dstParent, uint64_t ullNeed)
{
    struct statvfs vfs;
    if (fstatvfs(dstParent, &vfs) != 0)
        return false;
    const uint64_t ullFree = static_cast<uint64_t>(vfs.f_bfree) * (vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize);
    return ullNeed == 0 || ullNeed < ullFree;
}

// Removes the item and everything below it, links themselves and never their targets,
// walking the tree by descriptors. 0 when all is gone.
int RemoveItem(const CShare& share, const std::string& strPath)
{
    std::string strName;
    CFd parent(OpenParentBeneath(share, strPath, strName));
    struct stat st;
    if (!parent.Ok() || fstatat(parent.Get(), strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    if (!S_ISDIR(st.st_mode))
        return unlinkat(parent.Get(), strName.c_str(), 0) == 0 ? 0 : -1;
    CFileId rootId;
    if (!ShareRootId(share, rootId))
        return -1;
    CDirChain chain(parent.Release());
    if (chain.Enter(strName) != 0 || chain.Id() == rootId)
        return -1;
    return RemoveEnteredTree(chain, TreeWalk::Remove, false, rootId);
}

// True when the folder dst would land in (dstParent) is the source folder or lies
// below it: a folder copied into itself would grow until the volume is full.
bool LandsInside(const CShare& share, const CFileId& src, int dstParent)
{
    CFileId rootId;
    ShareRootId(share, rootId);
    struct stat st;
    CFd cur(openat(dstParent, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int nDepth = 0; cur.Ok() && nDepth < 4096; ++nDepth) {
        if (fstat(cur.Get(), &st) != 0)
            return true;  // cannot tell: refuse
        const CFileId id = IdOf(st);
        if (id == src)
            return true;
        if (id == rootId && !share.bWideLinks)
            return false;
        CFd up(openat(cur.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat upSt;
        if (!up.Ok() || fstat(up.Get(), &upSt) != 0)
            return true;
        if (upSt.st_dev == st.st_dev && upSt.st_ino == st.st_ino)
            return false;  // the top of the file system
        cur = CFd(up.Release());
    }
    return true;
}

}  // namespace

int ShellFileOperation(const CFileOp& op)
{
    if (op.pFrom == nullptr || op.pTo == nullptr || *op.pFrom == '\0' || *op.pTo == '\0')
        return -1;
    const CShare& share = op.share;
    const std::string strSrc = WithoutTrailingSeparators(op.pFrom);
    std::string strSrcName;
    CFd srcParent(OpenParentBeneath(share, strSrc, strSrcName));
    struct stat st;
    if (!srcParent.Ok() || fstatat(srcParent.Get(), strSrcName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    // The shared folder itself goes nowhere, however the path reaches it.
    const CFileId srcId = IdOf(st);
    CFileId rootId;
    if (S_ISDIR(st.st_mode) && (!ShareRootId(share, rootId) || srcId == rootId))
        return -1;
    std::string strDst = WithoutTrailingSeparators(op.pTo);
    {
        CFd dstDir(OpenBeneath(share, strDst, O_PATH | O_DIRECTORY));
        // Into an existing folder. Two appends, not "/" + name: g++ 12 takes the literal's
        // insertion in front of a temporary for an overlap (-Wrestrict) and fails the build.
        if (dstDir.Ok()) {
            strDst += '/';
            strDst += BaseName(strSrc);
        }
    }
    std::string strDstName;
    CFd dstParent(OpenParentBeneath(share, strDst, strDstName));
    if (!dstParent.Ok())
        return -1;
    // The daemon's own files are neither copied, moved nor written over, whatever name
    // reaches them; every step below checks the files it meets against them too.
    const COwnFiles own(share);
    const COwnFilesScope ownScope(own);
    if (IsOwnFileInOperation(st) || IsOwnPlaceInOperation(dstParent.Get(), strDstName.c_str()))
        return -1;
    if (S_ISDIR(st.st_mode) && LandsInside(share, srcId, dstParent.Get()))
        return -1;
    struct stat dstSt;
    const bool bDstExists = fstatat(dstParent.Get(), strDstName.c_str(), &dstSt, AT_SYMLINK_NOFOLLOW) == 0;
    if (bDstExists && IdOf(dstSt) == srcId)
        return op.wFunc == FileOpFunc::Move ? 0 : -1;

    // The files the operation takes are held as share modes from here to its end: a copy
    // reads only what no upload holds, a move takes only what no one holds.
    const bool bMove = op.wFunc == FileOpFunc::Move;
    CHeldFiles sources(bMove);
    if (sources.Take(srcParent.Get(), strSrcName) != 0)
        return -1;
    CCopyRun run;
    run.pJournal = op.pJournal;
    run.bSourcesHeld = bMove;
    run.pProgress = op.pProgress;
    if (op.pProgress != nullptr)
        op.pProgress->Total(sources.Bytes());
    if (!bMove) {
        const int rc = HasRoomFor(dstParent.Get(), sources.Bytes()) ? CopyItem(share, strSrc, strDst, run) : -1;
        if (op.pJournal != nullptr)
            op.pJournal->Clear();
        return rc;
    }

    // A move is a rename where it can be; across file systems, or onto a folder that
    // already exists, it is a copy followed by the removal of what was copied. A file it
    // replaces is held as the source is.
    if (bDstExists && IsReadOnlyFile(dstSt))
        return -1;
    CHeldFiles replaced(true);
    if (bDstExists && S_ISREG(dstSt.st_mode) && replaced.Take(dstParent.Get(), strDstName) != 0)
        return -1;
    if (renameat(srcParent.Get(), strSrcName.c_str(), dstParent.Get(), strDstName.c_str()) == 0) {
        // Both folders' entries reach the disk before the STB hears of it.
        struct stat srcDirSt, dstDirSt;
        const bool bOneFolder = fstat(srcParent.Get(), &srcDirSt) == 0 && fstat(dstParent.Get(), &dstDirSt) == 0 &&
                                IdOf(srcDirSt) == IdOf(dstDirSt);
        const int rcDst = FlushFolderAt(dstParent.Get());
        const int rcSrc = bOneFolder ? 0 : FlushFolderAt(srcParent.Get());
        return rcDst == 0 && rcSrc == 0 ? 0 : -1;
    }
    if (errno != EXDEV && errno != ENOTEMPTY && errno != EEXIST)
        return -1;
    replaced.Release();
    int rc = HasRoomFor(dstParent.Get(), sources.Bytes()) ? CopyItem(share, strSrc, strDst, run) : -1;
    if (op.pJournal != nullptr)
        op.pJournal->Clear();
    // The source goes only once its copy is whole on the disk.
    if (rc == 0)
        rc = RemoveItem(share, strSrc) == 0 && FlushFolderAt(srcParent.Get()) == 0 ? 0 : -1;
    return rc;
}

}  // namespace plat
