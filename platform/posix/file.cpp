#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

bool HasNoWriteBit(const struct stat& st) { return (st.st_mode & 0222) == 0; }

// Opens with a share lock taken before anything else touches the file. -1 on failure.
int OpenLocked(const std::string& strPath, int nFlags, int nLock)
{
    int fd = open(strPath.c_str(), nFlags | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, nLock | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int CPlatFile::Open(const std::string& strPath, OpenMode mode)
{
    Close();
    int fd = -1;
    switch (mode) {
    case OpenMode::Download:
        fd = OpenLocked(strPath, O_RDONLY, LOCK_SH);
        break;
    case OpenMode::Probe:
        fd = OpenLocked(strPath, O_RDONLY, LOCK_EX);
        break;
    case OpenMode::UploadTarget:
    case OpenMode::UploadCompletion: {
        struct stat st;
        bool bExists = stat(strPath.c_str(), &st) == 0;
        if (bExists && HasNoWriteBit(st))
            return -1;  // read-only: overwriting fails, as on the original file system
        if (!bExists && mode == OpenMode::UploadCompletion)
            return -1;
        fd = OpenLocked(strPath, mode == OpenMode::UploadTarget ? (O_WRONLY | O_CREAT) : O_WRONLY, LOCK_EX);
        // Truncate only once the exclusive lock is held: a failed open never cuts
        // someone else's file short.
        if (fd >= 0 && mode == OpenMode::UploadTarget && ftruncate(fd, 0) != 0) {
            close(fd);
            fd = -1;
        }
        break;
    }
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
    if (m_nFd < 0)
        return -1;
    return ftruncate(m_nFd, static_cast<off_t>(ullLength)) == 0 ? 0 : -1;
}

int GetPathInfo(const std::string& strPath, PathInfo& info)
{
    info = PathInfo{};
    struct stat lst;
    if (lstat(strPath.c_str(), &lst) != 0)
        return -1;
    info.bExists = true;
    info.bLink = S_ISLNK(lst.st_mode);
    struct stat st;
    const struct stat& target = (info.bLink && stat(strPath.c_str(), &st) == 0) ? st : lst;
    info.bDir = S_ISDIR(target.st_mode);
    info.bReadOnly = HasNoWriteBit(target);
    info.ullSize = S_ISREG(target.st_mode) ? static_cast<uint64_t>(target.st_size) : 0;
    return 0;
}

int DeleteFile(const std::string& strPath)
{
    struct stat st;
    if (lstat(strPath.c_str(), &st) != 0)
        return -errno;
    if (S_ISDIR(st.st_mode))
        return -EISDIR;
    if (S_ISLNK(st.st_mode))
        return unlink(strPath.c_str()) == 0 ? 0 : -errno;
    if (HasNoWriteBit(st))
        return -EACCES;
    // A file in use by another opener cannot be deleted: hold the exclusive lock while
    // unlinking so no opener slips in between.
    int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return -errno;
    int rc = -EBUSY;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        rc = unlink(strPath.c_str()) == 0 ? 0 : -errno;
    close(fd);
    return rc;
}

int RemoveHeldFile(const std::string& strPath) { return unlink(strPath.c_str()) == 0 ? 0 : -errno; }

int MakeDirectory(const std::string& strPath) { return mkdir(strPath.c_str(), 0777) == 0 ? 0 : -1; }

int RemoveDirectory(const std::string& strPath) { return rmdir(strPath.c_str()) == 0 ? 0 : -1; }

}  // namespace plat
