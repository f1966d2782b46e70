#include "platform/posix/copytree.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/common/walk_hook.h"
#include "platform/posix/beneath.h"
#include "platform/posix/ownid.h"
#include "platform/posix/treewalk.h"

namespace plat {

namespace {

// The permission bits a copy keeps: never set-user-ID or set-group-ID, which would let a
// program that another user left in the share run with the daemon's rights.
constexpr mode_t kCopiedModeBits = 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID);

bool IsReadOnlyFile(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0; }

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

// Copies one regular file (never through a link at either end), with its permission bits
// less the set-ID ones. The one place where a file's bytes are copied. 0 or -1.
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
    return fchmod(out.Get(), held.st_mode & kCopiedModeBits) == 0 ? 0 : -1;
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
    return mkdirat(dstDir, pszDst, st.st_mode & kCopiedModeBits) == 0 ? 0 : -1;
}

// One item of a copy: a file or a link is copied; for a folder the receiving folder is
// made and bFolder set, for the walk to enter both. 0 or -1.
int CopyEntry(int srcDir, const std::string& strSrcName, int dstDir, const std::string& strDstName, bool& bFolder)
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
    return CopyFileAt(srcDir, strSrcName.c_str(), st, dstDir, strDstName.c_str());
}

// Copies every entry of the folder the source chain is in into the one the destination
// chain is in, and returns the subfolders (made on both sides) to enter next. rc becomes
// -1 when something could not be copied.
std::vector<std::string> CopyEntries(CDirChain& from, CDirChain& to, int& rc)
{
    std::vector<CDirName> names;
    std::vector<std::string> folders;
    if (!ReadNames(from.Fd(), names)) {
        rc = -1;
        return folders;
    }
    CallTreeWalkHook(TreeWalk::Copy, from.Depth() - 1);
    for (CDirName& name : names) {
        bool bFolder = false;
        if (CopyEntry(from.Fd(), name.strName, to.Fd(), name.strName, bFolder) != 0)
            rc = -1;
        else if (bFolder)
            folders.push_back(std::move(name.strName));
    }
    return folders;
}

// The bytes of the files in the folder the chain is in; its subfolders are returned.
std::vector<std::string> SumFiles(CDirChain& chain, uint64_t& ullTotal)
{
    std::vector<CDirName> names;
    std::vector<std::string> folders;
    if (!ReadNames(chain.Fd(), names))
        return folders;
    for (CDirName& name : names) {
        struct stat st;
        if (fstatat(chain.Fd(), name.strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            folders.push_back(std::move(name.strName));
        else if (S_ISREG(st.st_mode))
            ullTotal += static_cast<uint64_t>(st.st_size);
    }
    return folders;
}

}  // namespace

int CopyItem(const CShare& share, const std::string& strSrc, const std::string& strDst)
{
    std::string strSrcName, strDstName;
    CFd srcParent(OpenParentBeneath(share, strSrc, strSrcName));
    CFd dstParent(OpenParentBeneath(share, strDst, strDstName));
    bool bFolder = false;
    if (!srcParent.Ok() || !dstParent.Ok() ||
        CopyEntry(srcParent.Get(), strSrcName, dstParent.Get(), strDstName, bFolder) != 0)
        return -1;
    if (!bFolder)
        return 0;
    // Both trees walked together, depth first, one list of subfolders per level (never
    // by recursion: the depth is the file system's to choose).
    CDirChain from(srcParent.Release()), to(dstParent.Release());
    if (from.Enter(strSrcName) != 0 || to.Enter(strDstName) != 0)
        return -1;
    int rc = 0;
    std::vector<std::vector<std::string>> pending;
    pending.push_back(CopyEntries(from, to, rc));
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
                pending.push_back(CopyEntries(from, to, rc));
            }
            continue;
        }
        pending.pop_back();
        if (!pending.empty() && (from.Leave() < 0 || to.Leave() < 0))
            return -1;  // the way back up is not the way down: stop
    }
    return rc;
}

uint64_t BytesToCopy(const CShare& share, const std::string& strSrc)
{
    std::string strName;
    CFd parent(OpenParentBeneath(share, strSrc, strName));
    struct stat st;
    if (!parent.Ok() || fstatat(parent.Get(), strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    if (!S_ISDIR(st.st_mode))
        return S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    CDirChain chain(parent.Release());
    if (chain.Enter(strName) != 0)
        return 0;
    uint64_t ullTotal = 0;
    std::vector<std::vector<std::string>> pending;
    pending.push_back(SumFiles(chain, ullTotal));
    while (!pending.empty()) {
        if (!pending.back().empty()) {
            const std::string strFolder = std::move(pending.back().back());
            pending.back().pop_back();
            if (chain.Enter(strFolder) == 0)
                pending.push_back(SumFiles(chain, ullTotal));
            continue;
        }
        pending.pop_back();
        if (!pending.empty() && chain.Leave() < 0)
            break;
    }
    return ullTotal;
}

}  // namespace plat
