#include "platform/shellop.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/common/ownfiles_sys.h"
#include "platform/posix/beneath.h"
#include "platform/posix/ownid.h"

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

// The names of a folder's entries, "." and ".." left out. False when it cannot be read.
bool ReadNames(int dfd, std::vector<std::string>& names)
{
    names.clear();
    int fd = openat(dfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* pDir = fdopendir(fd);
    if (pDir == nullptr) {
        close(fd);
        return false;
    }
    while (dirent* pEnt = readdir(pDir)) {
        const std::string strName = pEnt->d_name;
        if (strName != "." && strName != "..")
            names.push_back(strName);
    }
    closedir(pDir);
    return true;
}

// Copies the bytes of one open file into another. 0 or -1.
int CopyBytes(int fdIn, int fdOut, uint64_t ullSize)
{
    uint64_t ullDone = 0;
    while (ullDone < ullSize) {
        ssize_t r = copy_file_range(fdIn, nullptr, fdOut, nullptr, ullSize - ullDone, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        ullDone += static_cast<uint64_t>(r);
    }
    if (ullDone == ullSize)
        return 0;
    // A file system that cannot copy ranges itself: plain reads and writes.
    constexpr size_t kChunk = 1 << 16;
    std::unique_ptr<char[]> pBuf(new (std::nothrow) char[kChunk]);
    if (!pBuf)
        return -1;
    while (ullDone < ullSize) {
        ssize_t r = pread(fdIn, pBuf.get(), kChunk, static_cast<off_t>(ullDone));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return -1;  // shorter than it was: what was measured is not there
        for (ssize_t w = 0; w < r;) {
            ssize_t k = pwrite(fdOut, pBuf.get() + w, static_cast<size_t>(r - w), static_cast<off_t>(ullDone) + w);
            if (k < 0 && errno == EINTR)
                continue;
            if (k <= 0)
                return -1;
            w += k;
        }
        ullDone += static_cast<uint64_t>(r);
    }
    return 0;
}

// Copies one regular file (never through a link at either end). 0 or -1.
int CopyFileAt(int srcDir, const char* pszSrc, const struct stat& st, int dstDir, const char* pszDst)
{
    CFd in(openat(srcDir, pszSrc, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat held;
    if (!in.Ok() || fstat(in.Get(), &held) != 0 || !S_ISREG(held.st_mode) || held.st_ino != st.st_ino)
        return -1;
    if (IsOwnFileInOperation(held) || IsOwnPlaceInOperation(dstDir, pszDst))
        return -1;  // the daemon's own files are neither read nor made for an STB
    CFd out(openat(dstDir, pszDst, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600));
    struct stat dstSt;
    if (!out.Ok() || fstat(out.Get(), &dstSt) != 0 || !S_ISREG(dstSt.st_mode) || IsReadOnlyFile(dstSt))
        return -1;
    if (IsOwnFileInOperation(dstSt))
        return -1;  // nor written over through another name
    if (ftruncate(out.Get(), 0) != 0 || CopyBytes(in.Get(), out.Get(), static_cast<uint64_t>(held.st_size)) != 0)
        return -1;
    return fchmod(out.Get(), held.st_mode & 07777) == 0 ? 0 : -1;
}

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
    return mkdirat(dstDir, pszDst, st.st_mode & 07777) == 0 ? 0 : -1;
}

// One item of a copy: a file, a link, or a folder (created; its entries are queued).
int CopyEntry(int srcDir, const std::string& strSrcName, int dstDir, const std::string& strDstName,
              const std::string& strSrcPath, const std::string& strDstPath,
              std::vector<std::pair<std::string, std::string>>& folders)
{
    struct stat st;
    if (fstatat(srcDir, strSrcName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    if (S_ISLNK(st.st_mode))
        return CopyLinkAt(srcDir, strSrcName.c_str(), dstDir, strDstName.c_str());
    if (S_ISDIR(st.st_mode)) {
        if (MakeCopyDir(dstDir, strDstName.c_str(), st) != 0)
            return -1;
        folders.emplace_back(strSrcPath, strDstPath);
        return 0;
    }
    if (!S_ISREG(st.st_mode))
        return -1;  // devices, pipes and sockets are not copied
    return CopyFileAt(srcDir, strSrcName.c_str(), st, dstDir, strDstName.c_str());
}

// Copies the item and, for a folder, everything below it, one folder at a time from a
// list (never by recursion: the depth is the file system's to choose). Goes on after a
// failure so that as much as possible is copied; the result says whether all was.
int CopyItem(const CShare& share, const std::string& strSrc, const std::string& strDst)
{
    std::string strSrcName, strDstName;
    CFd srcParent(OpenParentBeneath(share, strSrc, strSrcName));
    CFd dstParent(OpenParentBeneath(share, strDst, strDstName));
    if (!srcParent.Ok() || !dstParent.Ok())
        return -1;
    std::vector<std::pair<std::string, std::string>> folders;
    if (CopyEntry(srcParent.Get(), strSrcName, dstParent.Get(), strDstName, strSrc, strDst, folders) != 0)
        return -1;
    int rc = 0;
    std::vector<std::string> names;
    while (!folders.empty()) {
        const auto [strFrom, strTo] = std::move(folders.back());
        folders.pop_back();
        CFd from(OpenBeneath(share, strFrom, O_PATH | O_DIRECTORY | O_NOFOLLOW));
        CFd to(OpenBeneath(share, strTo, O_PATH | O_DIRECTORY | O_NOFOLLOW));
        if (!from.Ok() || !to.Ok() || !ReadNames(from.Get(), names)) {
            rc = -1;
            continue;
        }
        for (const std::string& strName : names) {
            if (CopyEntry(from.Get(), strName, to.Get(), strName, strFrom + "/" + strName, strTo + "/" + strName,
                          folders) != 0)
                rc = -1;
        }
    }
    return rc;
}

// The bytes the files of the item (and below it) hold, links not followed.
uint64_t BytesToCopy(const CShare& share, const std::string& strSrc)
{
    std::string strName;
    CFd parent(OpenParentBeneath(share, strSrc, strName));
    struct stat st;
    if (!parent.Ok() || fstatat(parent.Get(), strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    if (!S_ISDIR(st.st_mode))
        return S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    uint64_t ullTotal = 0;
    std::vector<std::string> folders{strSrc}, names;
    while (!folders.empty()) {
        const std::string strDir = std::move(folders.back());
        folders.pop_back();
        CFd dir(OpenBeneath(share, strDir, O_PATH | O_DIRECTORY | O_NOFOLLOW));
        if (!dir.Ok() || !ReadNames(dir.Get(), names))
            continue;
        for (const std::string& strEntry : names) {
            if (fstatat(dir.Get(), strEntry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISDIR(st.st_mode))
                folders.push_back(strDir + "/" + strEntry);
            else if (S_ISREG(st.st_mode))
                ullTotal += static_cast<uint64_t>(st.st_size);
        }
    }
    return ullTotal;
}

// True when the volume that would receive the copy has room for its bytes.
bool HasRoomFor(const CShare& share, const std::string& strSrc, const std::string& strDst)
{
    std::string strName;
    CFd parent(OpenParentBeneath(share, strDst, strName));
    struct statvfs vfs;
    if (!parent.Ok() || fstatvfs(parent.Get(), &vfs) != 0)
        return false;
    const uint64_t ullFree = static_cast<uint64_t>(vfs.f_bfree) * (vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize);
    const uint64_t ullNeed = BytesToCopy(share, strSrc);
    return ullNeed == 0 || ullNeed < ullFree;
}

// Removes the item and everything below it, links themselves and never their targets,
// one folder at a time from a list. 0 when all is gone.
int RemoveItem(const CShare& share, const std::string& strPath)
{
    std::vector<std::pair<std::string, bool>> stack{{strPath, false}};  // path, entries done
    std::vector<std::string> names;
    int rc = 0;
    while (!stack.empty()) {
        auto [strItem, bDone] = stack.back();
        std::string strName;
        CFd parent(OpenParentBeneath(share, strItem, strName));
        struct stat st;
        if (!parent.Ok() || fstatat(parent.Get(), strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            stack.pop_back();
            rc = -1;
            continue;
        }
        if (!S_ISDIR(st.st_mode) || bDone) {
            stack.pop_back();
            if (unlinkat(parent.Get(), strName.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) != 0)
                rc = -1;
            continue;
        }
        stack.back().second = true;
        CFd dir(openat(parent.Get(), strName.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!dir.Ok() || !ReadNames(dir.Get(), names))
            continue;
        for (const std::string& strEntry : names)
            stack.emplace_back(strItem + "/" + strEntry, false);
    }
    return rc;
}

// The identity of a file, for telling whether two names are one.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const FileId&) const = default;
};

// True when the folder dst would land in (dstParent) is the source folder or lies
// below it: a folder copied into itself would grow until the volume is full.
bool LandsInside(const CShare& share, const FileId& src, int dstParent)
{
    struct stat st;
    CFd root(open(share.strRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    FileId rootId;
    if (root.Ok() && fstat(root.Get(), &st) == 0)
        rootId = {st.st_dev, st.st_ino};
    CFd cur(openat(dstParent, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int nDepth = 0; cur.Ok() && nDepth < 4096; ++nDepth) {
        if (fstat(cur.Get(), &st) != 0)
            return true;  // cannot tell: refuse
        const FileId id{st.st_dev, st.st_ino};
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
    const FileId srcId{st.st_dev, st.st_ino};
    if (S_ISDIR(st.st_mode) && LandsInside(share, srcId, dstParent.Get()))
        return -1;
    struct stat dstSt;
    const bool bDstExists = fstatat(dstParent.Get(), strDstName.c_str(), &dstSt, AT_SYMLINK_NOFOLLOW) == 0;
    if (bDstExists && FileId{dstSt.st_dev, dstSt.st_ino} == srcId)
        return op.wFunc == FileOpFunc::Move ? 0 : -1;

    if (op.wFunc == FileOpFunc::Copy)
        return HasRoomFor(share, strSrc, strDst) ? CopyItem(share, strSrc, strDst) : -1;

    // A move is a rename where it can be; across file systems, or onto a folder that
    // already exists, it is a copy followed by the removal of what was copied.
    if (bDstExists && IsReadOnlyFile(dstSt))
        return -1;
    if (renameat(srcParent.Get(), strSrcName.c_str(), dstParent.Get(), strDstName.c_str()) == 0)
        return 0;
    if (errno != EXDEV && errno != ENOTEMPTY && errno != EEXIST)
        return -1;
    if (!HasRoomFor(share, strSrc, strDst) || CopyItem(share, strSrc, strDst) != 0)
        return -1;
    return RemoveItem(share, strSrc) == 0 ? 0 : -1;
}

}  // namespace plat
