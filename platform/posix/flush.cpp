#include "platform/flush.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/common/flush_note.h"
#include "platform/file.h"
#include "platform/posix/beneath.h"
#include "platform/posix/flushat.h"

namespace plat {

namespace {

// fsync of an open folder, repeated when a signal cut it short.
int SyncFolder(int fd)
{
    NoteFlush(FlushKind::Folder);
    int rc;
    do
        rc = fsync(fd);
    while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : -1;
}

// The folder that holds the path's last component, opened for reading beneath the share
// (the resolving call gives only a handle for looking up names). A descriptor, or -1.
int OpenParentFolder(const CShare& share, const std::string& strPath)
{
    std::string strLast;
    CFd parent(OpenParentBeneath(share, strPath, strLast));
    if (!parent.Ok())
        return -1;
    return openat(parent.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

int FlushFileAt(int fd)
{
    NoteFlush(FlushKind::File);
    int rc;
    do
        rc = fdatasync(fd);
    while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : -1;
}

int FlushFolderAt(int dirFd)
{
    // A descriptor that may only look names up cannot be flushed: the folder is opened
    // for reading through it.
    CFd folder(openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.Ok() ? SyncFolder(folder.Get()) : -1;
}

int FlushVolumeAt(int fd)
{
    NoteFlush(FlushKind::Volume);
    return syncfs(fd) == 0 ? 0 : -1;
}

int FlushParentFolder(const CShare& share, const std::string& strPath)
{
    CFd folder(OpenParentFolder(share, strPath));
    return folder.Ok() ? SyncFolder(folder.Get()) : -1;
}

int FlushFolder(const std::string& strFolder)
{
    CFd folder(open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.Ok() ? SyncFolder(folder.Get()) : -1;
}

int CFlushSet::Add(const CShare& share, const std::string& strPath, const CPlatFile& file)
{
    FileIdentity id;
    if (file.Identity(id) != 0)
        return -1;
    for (const CVolume& volume : m_Volumes)
        if (volume.ullVolume == id.ullVolume)
            return 0;
    // Any file of the volume would do for syncfs; the file's folder is one the session
    // may open, and holding it keeps no file locked.
    const int fd = OpenParentFolder(share, strPath);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_dev) != id.ullVolume) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    m_Volumes.push_back(CVolume{id.ullVolume, fd});
    return 0;
}

int CFlushSet::Flush()
{
    int rc = 0;
    for (const CVolume& volume : m_Volumes) {
        if (FlushVolumeAt(static_cast<int>(volume.nHandle)) != 0)
            rc = -1;
    }
    Drop();
    return rc;
}

void CFlushSet::Drop()
{
    for (const CVolume& volume : m_Volumes)
        close(static_cast<int>(volume.nHandle));
    m_Volumes.clear();
}

}  // namespace plat
