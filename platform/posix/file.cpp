#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/common/ownfiles_sys.h"
#include "platform/ownfiles.h"
#include "platform/posix/beneath.h"
#include "platform/posix/flushat.h"
#include "platform/posix/ownid.h"
#include "platform/posix/treewalk.h"

namespace plat {

namespace {

bool HasNoWriteBit(const struct stat& st) { return (st.st_mode & 0222) == 0; }

// Opens beneath the share with a share lock taken before anything else touches the
// file. The opening never blocks (a FIFO or device would hold the session), and only a
// regular file is kept; never one of the daemon's own files, whatever name reaches it,
// and none is made in an own file's place. A descriptor, or -1.
int OpenLocked(const CShare& share, const std::string& strPath, int nFlags, int nLock, bool bWrite)
{
    const COwnFiles own(share);
    if ((nFlags & O_CREAT) != 0 && own.IsPlaceOf(strPath))
        return -1;
    int fd = OpenBeneath(share, strPath, nFlags | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (bWrite && HasNoWriteBit(st)) || own.IsFile(IdOf(st)) ||
        flock(fd, nLock | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    // O_NONBLOCK stays set: it changes nothing for a regular file on Linux.
    return fd;
}

}  // namespace

int CPlatFile::Open(const CShare& share, const std::string& strPath, OpenMode mode)
{
    Close();
    int fd = -1;
    switch (mode) {
    case OpenMode::Download:
        fd = OpenLocked(share, strPath, O_RDONLY, LOCK_SH, false);
        break;
    case OpenMode::Probe:
        fd = OpenLocked(share, strPath, O_RDONLY, LOCK_EX, false);
        break;
    case OpenMode::UploadCompletion:
        fd = OpenLocked(share, strPath, O_WRONLY, LOCK_EX, true);
        break;
    case OpenMode::UploadTarget:
        // A file with no write bit is read-only: overwriting it fails, as on the original
        // file system (checked on the opened file, even for a user who may write anyway).
        fd = OpenLocked(share, strPath, O_WRONLY | O_CREAT, LOCK_EX, true);
        // Truncate only once the exclusive lock is held: a failed open never cuts
        // someone else's file short.
        if (fd >= 0 && ftruncate(fd, 0) != 0) {
            close(fd);
            fd = -1;
        }
        break;
    }
    if (fd < 0)
        return -1;
    m_nFd = fd;
    return 0;
}

void CPlatFile::Close()
{
    if (m_nFd >= 0) {
        close(m_nFd);
        m_nFd = -1;
    }
}

int64_t CPlatFile::Length() const
{
    struct stat st;
    if (m_nFd < 0 || fstat(m_nFd, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t CPlatFile::ReadAt(uint64_t ullOffset, void* pBuf, size_t n) const
{
    char* p = static_cast<char*>(pBuf);
    size_t nDone = 0;
    while (nDone < n) {
        ssize_t r = pread(m_nFd, p + nDone, n - nDone, static_cast<off_t>(ullOffset + nDone));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        nDone += static_cast<size_t>(r);
    }
    return static_cast<int64_t>(nDone);
}

int CPlatFile::WriteAt(uint64_t ullOffset, const void* pBuf, size_t n) const
{
    const char* p = static_cast<const char*>(pBuf);
    size_t nDone = 0;
    while (nDone < n) {
        ssize_t r = pwrite(m_nFd, p + nDone, n - nDone, static_cast<off_t>(ullOffset + nDone));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return -1;
        nDone += static_cast<size_t>(r);
    }
    return 0;
}

int CPlatFile::SetLength(uint64_t ullLength) const
{
    if (m_nFd < 0 || ullLength > static_cast<uint64_t>(INT64_MAX))
        return -1;
    return ftruncate(m_nFd, static_cast<off_t>(ullLength)) == 0 ? 0 : -1;
}

int CPlatFile::Reserve(uint64_t ullLength) const
{
    if (m_nFd < 0 || ullLength > static_cast<uint64_t>(INT64_MAX))
        return -1;
    if (ullLength == 0)
        return SetLength(0);
    // fallocate itself, not posix_fallocate: where the file system has no reservations
    // the latter writes every block out, which is what a reservation is meant to avoid.
    int rc;
    do
        rc = fallocate(m_nFd, 0, 0, static_cast<off_t>(ullLength));
    while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return 0;
    if (errno == EOPNOTSUPP || errno == ENOSYS)
        return SetLength(ullLength);  // a file system without reservations
    // The volume cannot hold it: give back what the attempt took.
    int rcTrunc = ftruncate(m_nFd, 0);
    (void)rcTrunc;
    return -1;
}

int CPlatFile::Identity(FileIdentity& id) const
{
    struct stat st;
    if (m_nFd < 0 || fstat(m_nFd, &st) != 0)
        return -1;
    id.ullVolume = static_cast<uint64_t>(st.st_dev);
    id.ullIndex = static_cast<uint64_t>(st.st_ino);
    id.ullSize = static_cast<uint64_t>(st.st_size);
    return 0;
}

int CPlatFile::Flush() const
{
    return m_nFd < 0 ? -1 : FlushFileAt(m_nFd);
}

void CPlatFile::StartWriteBack(uint64_t ullOffset, uint64_t ullLength) const
{
    if (m_nFd >= 0 && ullLength > 0)
        sync_file_range(m_nFd, static_cast<off_t>(ullOffset), static_cast<off_t>(ullLength), SYNC_FILE_RANGE_WRITE);
}

void CPlatFile::AwaitWriteBack(uint64_t ullOffset, uint64_t ullLength) const
{
    if (m_nFd >= 0 && ullLength > 0)
        sync_file_range(m_nFd, static_cast<off_t>(ullOffset), static_cast<off_t>(ullLength),
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
}

bool LeadsOutOfShare(const CShare& share, const std::string& strPath)
{
    if (share.bWideLinks)
        return false;
    std::string strLast;
    CFd parent(OpenParentBeneath(share, strPath, strLast));
    return parent.Get() == -EXDEV || parent.Get() == -ELOOP;
}

int GetPathInfo(const CShare& share, const std::string& strPath, PathInfo& info)
{
    info = PathInfo{};
    std::string strLast;
    CFd parent(OpenParentBeneath(share, strPath, strLast));
    if (!parent.Ok())
        return -1;
    struct stat lst;
    if (fstatat(parent.Get(), strLast.c_str(), &lst, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    info.bExists = true;
    info.bLink = S_ISLNK(lst.st_mode);
    struct stat st = lst;
    if (info.bLink) {
        // Where the link leads, if the share lets it lead there; a link out of the
        // shared folder is a link to nothing.
        CFd target(OpenBeneath(share, strPath, O_PATH));
        if (!target.Ok() || fstat(target.Get(), &st) != 0)
            st = lst;
    }
    info.bDir = S_ISDIR(st.st_mode);
    info.bReadOnly = HasNoWriteBit(st);
    info.ullSize = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    return 0;
}

int DeleteFileAt(int dfd, const char* pszLast)
{
    struct stat st;
    if (fstatat(dfd, pszLast, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -errno;
    if (IsOwnFileInOperation(st))
        return -EXDEV;  // the daemon's own file: as out of the shared folder
    if (S_ISDIR(st.st_mode))
        return -EISDIR;
    if (S_ISLNK(st.st_mode))
        return unlinkat(dfd, pszLast, 0) == 0 ? 0 : -errno;
    if (!S_ISREG(st.st_mode))
        return -EACCES;  // a FIFO, socket or device cannot be opened to see who holds it
    if (HasNoWriteBit(st))
        return -EACCES;
    // A file in use by another opener cannot be deleted: hold the exclusive lock while
    // unlinking so no opener slips in between.
    CFd file(openat(dfd, pszLast, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (!file.Ok())
        return -errno;
    struct stat held;
    if (fstat(file.Get(), &held) != 0 || !S_ISREG(held.st_mode))
        return -EACCES;
    if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
        return -EBUSY;
    return unlinkat(dfd, pszLast, 0) == 0 ? 0 : -errno;
}

int DeleteFile(const CShare& share, const std::string& strPath)
{
    std::string strLast;
    CFd parent(OpenParentBeneath(share, strPath, strLast));
    if (!parent.Ok())
        return parent.Get();
    const COwnFiles own(share);
    const COwnFilesScope ownScope(own);
    return DeleteFileAt(parent.Get(), strLast.c_str());
}

int RemoveHeldFile(const CShare& share, const std::string& strPath, const CPlatFile& held)
{
    FileIdentity heldId;
    if (held.Identity(heldId) != 0)
        return -EBADF;
    std::string strLast;
    CFd parent(OpenParentBeneath(share, strPath, strLast));
    if (!parent.Ok())
        return parent.Get();
    // The name may have been moved aside and another file put in its place (a rename
    // takes no notice of the lock): only the held file's own name goes.
    struct stat st;
    if (fstatat(parent.Get(), strLast.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -errno;
    if (static_cast<uint64_t>(st.st_dev) != heldId.ullVolume || static_cast<uint64_t>(st.st_ino) != heldId.ullIndex)
        return -EEXIST;
    return unlinkat(parent.Get(), strLast.c_str(), 0) == 0 ? 0 : -errno;
}

int RemoveIfSameFile(const CShare& share, const std::string& strPath, const FileIdentity& id)
{
    // A name that cannot be reached any more (gone, or now through a link out of the
    // shared folder) is not that file.
    std::string strLast;
    CFd parent(OpenParentBeneath(share, strPath, strLast));
    if (!parent.Ok())
        return 0;
    const int dfd = parent.Get();
    const char* pszLast = strLast.c_str();
    // Looked at, opened and locked without following a link, and never a FIFO or device.
    struct stat st;
    if (fstatat(dfd, pszLast, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    auto same = [&](const struct stat& s) {
        return S_ISREG(s.st_mode) && static_cast<uint64_t>(s.st_dev) == id.ullVolume &&
               static_cast<uint64_t>(s.st_ino) == id.ullIndex && static_cast<uint64_t>(s.st_size) == id.ullSize;
    };
    if (!same(st))
        return 0;
    CFd file(openat(dfd, pszLast, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat held;
    if (!file.Ok() || fstat(file.Get(), &held) != 0)
        return -1;
    if (!same(held))
        return 0;
    // An opener that holds it (an upload of another copy of the daemon) keeps it.
    if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
        return -1;
    if (fstatat(dfd, pszLast, &st, AT_SYMLINK_NOFOLLOW) != 0 || !same(st))
        return 0;
    return unlinkat(dfd, pszLast, 0) == 0 ? 1 : -1;
}

int MakeDirectory(const CShare& share, const std::string& strPath)
{
    std::string strLast;
    CFd parent(OpenParentBeneath(share, strPath, strLast));
    if (!parent.Ok() || COwnFiles(share).IsPlaceOf(strPath))
        return -1;
    return mkdirat(parent.Get(), strLast.c_str(), 0777) == 0 ? 0 : -1;
}

int RemoveDirectory(const CShare& share, const std::string& strPath)
{
    std::string strLast;
    CFd parent(OpenParentBeneath(share, strPath, strLast));
    if (!parent.Ok())
        return -1;
    return unlinkat(parent.Get(), strLast.c_str(), AT_REMOVEDIR) == 0 ? 0 : -1;
}

int MakeDirectory(const std::string& strPath) { return mkdir(strPath.c_str(), 0777) == 0 ? 0 : -1; }

}  // namespace plat
