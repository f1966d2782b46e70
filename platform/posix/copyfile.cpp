#include "platform/posix/copyfile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

#include "platform/common/copy_hook.h"
#include "platform/posix/flushat.h"
#include "platform/posix/ownid.h"
#include "platform/writeback.h"

namespace plat {

namespace {

// The permission bits a copy keeps: never set-user-ID or set-group-ID, which would let a
// program that another user left in the share run with the daemon's rights.
constexpr mode_t kCopiedModeBits = 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID);
constexpr int kNameTries = 100;
// What a copy's write-back may leave in flight behind the newest stretch.
constexpr uint64_t kWriteBackLag = 8 * CWriteBack::kStretch;

bool IsReadOnlyFile(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0; }

// Whether an unnamed file can later be given a name: through its /proc link, which needs
// no privilege.
bool CanLinkUnnamed()
{
    static const bool s_bCan = access("/proc/self/fd", X_OK) == 0;
    return s_bCan;
}

// A new temporary in the folder: unnamed where the file system makes one, else under a
// new hidden name, made without following anything planted there. A descriptor (strName
// empty for an unnamed one), or -1.
int OpenTemporary(int dstDir, std::string& strName)
{
    strName.clear();
    if (CanLinkUnnamed()) {
        const int fd = openat(dstDir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
            return fd;
    }
    for (int nTry = 0; nTry < kNameTries; ++nTry) {
        std::string strTry = NewCopyTemporaryName();
        const int fd = openat(dstDir, strTry.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
        if (fd >= 0) {
            strName = std::move(strTry);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// Holds the existing destination exclusively, as an upload would: refused while anyone
// else has it open. A descriptor, or -1.
int HoldDestination(int dstDir, const char* pszDst, const struct stat& dstSt)
{
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd = openat(dstDir, pszDst, O_RDONLY | kFlags);
    if (fd < 0 && errno == EACCES)
        fd = openat(dstDir, pszDst, O_WRONLY | kFlags);
    CFd held(fd);
    struct stat st;
    if (!held.Ok() || fstat(fd, &st) != 0 || IdOf(st) != IdOf(dstSt) || flock(fd, LOCK_EX | LOCK_NB) != 0)
        return -1;
    return held.Release();
}

// Copies ullSize bytes from fdIn into out from offset ullFrom on, without copy_file_range.
int CopyByReading(int fdIn, const CPlatFile& out, uint64_t ullFrom, uint64_t ullSize, CWriteBack& writeBack)
{
    constexpr size_t kChunk = 1 << 20;
    std::unique_ptr<char[]> pBuf(new (std::nothrow) char[kChunk]);
    if (!pBuf)
        return -1;
    for (uint64_t ullDone = ullFrom; ullDone < ullSize;) {
        const size_t n = ullSize - ullDone < kChunk ? static_cast<size_t>(ullSize - ullDone) : kChunk;
        ssize_t r = pread(fdIn, pBuf.get(), n, static_cast<off_t>(ullDone));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0 || out.WriteAt(ullDone, pBuf.get(), static_cast<size_t>(r)) != 0)
            return -1;  // shorter than it was: what was measured is not there
        ullDone += static_cast<uint64_t>(r);
        writeBack.Advance(out, ullDone);
        CallCopyHook(CopyStep::Written, ullDone);
    }
    return 0;
}

}  // namespace

CCopyBatch::CCopyBatch(const CCopyRun& run, int dstDir, std::string strDstFolder)
    : m_run(run), m_dstDir(dstDir), m_strDstFolder(std::move(strDstFolder))
{
}

CCopyBatch::~CCopyBatch()
{
    for (auto& p : m_pending)
        Drop(*p);
}

int CCopyBatch::CopyData(int fdIn, CPending& p)
{
    // Stretch by stretch, each handed to the disk as the next ones are written, so that
    // the flush before the rename has little left to do.
    CWriteBack writeBack(kWriteBackLag, 0);
    const int fdOut = p.out.Handle();
    uint64_t ullDone = 0;
    while (ullDone < p.ullSize) {
        const uint64_t ullLeft = p.ullSize - ullDone;
        const size_t n = static_cast<size_t>(ullLeft < CWriteBack::kStretch ? ullLeft : CWriteBack::kStretch);
        loff_t offIn = static_cast<loff_t>(ullDone), offOut = static_cast<loff_t>(ullDone);
        const ssize_t r = copy_file_range(fdIn, &offIn, fdOut, &offOut, n, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && ullDone == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
            break;  // a file system that cannot copy ranges itself: plain reads and writes
        if (r <= 0)
            return -1;  // shorter than it was: what was measured is not there
        ullDone += static_cast<uint64_t>(r);
        if (m_run.pProgress != nullptr)
            m_run.pProgress->Copied(static_cast<uint64_t>(r));
        writeBack.Advance(p.out, ullDone);
        CallCopyHook(CopyStep::Written, ullDone);
    }
    if (ullDone < p.ullSize) {
        if (CopyByReading(fdIn, p.out, ullDone, p.ullSize, writeBack) != 0)
            return -1;
        if (m_run.pProgress != nullptr)
            m_run.pProgress->Copied(p.ullSize - ullDone);
    }
    writeBack.Finish(p.out, p.ullSize);
    return 0;
}

int CCopyBatch::Add(int srcDir, const char* pszSrc, const struct stat& st, const char* pszDst)
{
    CFd in(openat(srcDir, pszSrc, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat held;
    if (!in.Ok() || fstat(in.Get(), &held) != 0 || !S_ISREG(held.st_mode) || held.st_ino != st.st_ino)
        return -1;
    if (IsOwnFileInOperation(held) || IsOwnPlaceInOperation(m_dstDir, pszDst))
        return -1;  // the daemon's own files are neither read nor made for an STB
    // A source that an upload holds is not read: it is not whole yet.
    if (!m_run.bSourcesHeld && flock(in.Get(), LOCK_SH | LOCK_NB) != 0)
        return -1;
    auto p = std::make_unique<CPending>();
    p->strDst = pszDst;
    p->ullSize = static_cast<uint64_t>(held.st_size);
    struct stat dstSt;
    if (fstatat(m_dstDir, pszDst, &dstSt, AT_SYMLINK_NOFOLLOW) == 0) {
        // Only a plain file is overwritten, and never the daemon's own, nor one in use.
        if (!S_ISREG(dstSt.st_mode) || IsReadOnlyFile(dstSt) || IsOwnFileInOperation(dstSt))
            return -1;
        p->oldDst = CFd(HoldDestination(m_dstDir, pszDst, dstSt));
        if (!p->oldDst.Ok())
            return -1;
    } else if (errno != ENOENT) {
        return -1;
    }
    const int fdOut = OpenTemporary(m_dstDir, p->strTemp);
    if (fdOut < 0)
        return -1;
    p->out.Adopt(fdOut);
    if (!p->strTemp.empty()) {
        // A named temporary is in the journal, at the length it is given next, before a
        // byte is written into it.
        FileIdentity id;
        if (p->out.Identity(id) == 0 && m_run.pJournal != nullptr) {
            id.ullSize = p->ullSize;
            m_run.pJournal->Note(LocalPath(p->strTemp), id);
            m_run.pJournal->Commit();
        }
        if (p->out.Reserve(p->ullSize) != 0) {
            Drop(*p);
            return -1;
        }
    }
    if (CopyData(in.Get(), *p) != 0 || fchmod(fdOut, held.st_mode & kCopiedModeBits) != 0) {
        Drop(*p);
        return -1;
    }
    m_ullBytes += p->ullSize;
    m_pending.push_back(std::move(p));
    return 0;
}

int CCopyBatch::Link(CPending& p, const std::string& strName)
{
    char szProc[64];
    snprintf(szProc, sizeof(szProc), "/proc/self/fd/%d", p.out.Handle());
    return linkat(AT_FDCWD, szProc, m_dstDir, strName.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : -1;
}

int CCopyBatch::Place(CPending& p)
{
    if (p.strTemp.empty() && !p.oldDst.Ok())
        return Link(p, p.strDst);  // nothing to replace: named once, whole and flushed
    if (p.strTemp.empty()) {
        // Put beside the destination under a hidden name first: only a rename replaces a
        // name in one step. The name is in the journal before it exists.
        p.strTemp = NewCopyTemporaryName();
        FileIdentity id;
        if (m_run.pJournal != nullptr && p.out.Identity(id) == 0) {
            m_run.pJournal->Note(LocalPath(p.strTemp), id);
            m_run.pJournal->Commit();
        }
        if (Link(p, p.strTemp) != 0) {
            p.strTemp.clear();
            return -1;
        }
    }
    CallCopyHook(CopyStep::Named, p.ullSize);
    if (p.oldDst.Ok())
        return renameat(m_dstDir, p.strTemp.c_str(), m_dstDir, p.strDst.c_str()) == 0 ? 0 : -1;
    // A file that appeared at the destination meanwhile is not replaced unheld.
    if (renameat2(m_dstDir, p.strTemp.c_str(), m_dstDir, p.strDst.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL)
        return -1;
    return renameat(m_dstDir, p.strTemp.c_str(), m_dstDir, p.strDst.c_str()) == 0 ? 0 : -1;
}

void CCopyBatch::Drop(CPending& p)
{
    if (!p.strTemp.empty() && p.out.IsOpen()) {
        // Only while the name still leads to the temporary itself.
        struct stat st, mine;
        if (fstatat(m_dstDir, p.strTemp.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            fstat(p.out.Handle(), &mine) == 0 && IdOf(st) == IdOf(mine))
            unlinkat(m_dstDir, p.strTemp.c_str(), 0);
    }
    p.strTemp.clear();
    p.out.Close();
    p.oldDst = CFd();
}

int CCopyBatch::Settle()
{
    if (m_pending.empty())
        return 0;
    // The data first, all of it: a name never leads to bytes that are not on the disk.
    const bool bFlushed = (m_pending.size() == 1 ? m_pending[0]->out.Flush() : FlushVolumeAt(m_dstDir)) == 0;
    int rc = bFlushed ? 0 : -1;
    for (auto& p : m_pending) {
        if (bFlushed && Place(*p) == 0)
            p->strTemp.clear();  // renamed into place: nothing to remove
        else
            rc = -1;
        Drop(*p);
    }
    m_pending.clear();
    m_ullBytes = 0;
    return rc;
}

}  // namespace plat
