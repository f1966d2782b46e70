// File objects with the share modes of the transfer commands, and the single-call file
// system operations the handlers use. Paths are local paths, bytes passed unchanged,
// each resolved beneath the share it was mapped onto: one that leads out of the shared
// folder fails as a missing one does. Folders, FIFOs, sockets and devices are never
// opened as files: an opening that meets one fails at once, without blocking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/share.h"

namespace plat {

// How a transfer file is opened. Sharing is enforced between all openers of this layer,
// in this process and in others.
// What tells one file from another: its volume and its number there (device and inode;
// on Windows the volume's serial number and the file index), with the file's length.
struct FileIdentity {
    uint64_t ullVolume = 0;
    uint64_t ullIndex = 0;
    uint64_t ullSize = 0;
    bool SameFile(const FileIdentity& other) const
    {
        return ullVolume == other.ullVolume && ullIndex == other.ullIndex;
    }
};

enum class OpenMode {
    Download,          // read; others may read, not write; must exist and not be a folder
    UploadTarget,      // write; no sharing; created, or truncated if it exists
    UploadCompletion,  // write; no sharing; must exist, not truncated
    Probe,             // read; no sharing; must exist (".stb" header probe)
};

class CPlatFile {
public:
    CPlatFile() = default;
    ~CPlatFile() { Close(); }
    CPlatFile(const CPlatFile&) = delete;
    CPlatFile& operator=(const CPlatFile&) = delete;

    // Takes over the other's open file (and its lock); the other is left closed.
#ifdef _WIN32
    void TakeFrom(CPlatFile& other)
    {
        Close();
        m_hFile = other.m_hFile;
        other.m_hFile = nullptr;
    }
#else
    void TakeFrom(CPlatFile& other)
    {
        Close();
        m_nFd = other.m_nFd;
        other.m_nFd = -1;
    }
#endif

    // For the platform layer's own files (a copy's temporary): takes over a descriptor (a
    // HANDLE on Windows) that it opened itself, which this object then closes.
#ifdef _WIN32
    void Adopt(void* hFile)
    {
        Close();
        m_hFile = hFile;
    }
    void* Handle() const { return m_hFile; }
#else
    void Adopt(int nFd)
    {
        Close();
        m_nFd = nFd;
    }
    int Handle() const { return m_nFd; }
#endif

    // 0, or -1 when the file cannot be opened in that mode (missing, a folder, held by
    // another opener, read-only for a write mode). A failed open truncates nothing.
    int Open(const CShare& share, const std::string& strPath, OpenMode mode);
#ifdef _WIN32
    bool IsOpen() const { return m_hFile != nullptr; }
#else
    bool IsOpen() const { return m_nFd >= 0; }
#endif
    void Close();
    // A number that identifies the open file in diagnostic lines (0 when closed).
#ifdef _WIN32
    unsigned long Id() const { return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(m_hFile)); }
#else
    unsigned long Id() const { return m_nFd >= 0 ? static_cast<unsigned long>(m_nFd) : 0; }
#endif

    // The file's length, or -1.
    int64_t Length() const;
    // Reads up to n bytes at the offset, repeating short reads; the count read (less than
    // n only at the end of the file), or -1 on an error.
    int64_t ReadAt(uint64_t ullOffset, void* pBuf, size_t n) const;
    // Writes all n bytes at the offset; 0, or -1 on an error (a full volume, a size limit).
    int WriteAt(uint64_t ullOffset, const void* pBuf, size_t n) const;
    // Sets the file's length; 0 or -1.
    int SetLength(uint64_t ullLength) const;
    // Sets the file's length with its blocks reserved on the volume where the file
    // system can, so that a later write cannot find the volume full; otherwise as
    // SetLength. 0 or -1.
    int Reserve(uint64_t ullLength) const;

    // The open file's identity. 0 or -1.
    int Identity(FileIdentity& id) const;
    // Brings the file's data to the disk, with what reading it back needs (its length and
    // blocks): fdatasync, FlushFileBuffers. Counted in GetFlushCounts (platform/flush.h).
    // 0, or -1 when the system reports that some of it may not have been written.
    int Flush() const;
    // Starts writing the range's data to the disk and returns without waiting for it
    // (Linux: sync_file_range), so that a later Flush has little left to do. Nothing where
    // the system has no such call (Windows).
    void StartWriteBack(uint64_t ullOffset, uint64_t ullLength) const;
    // Waits until the range's data, written back as StartWriteBack started it, has
    // reached the disk: keeps the data not yet on the disk to the stretches written
    // since. Nothing where the system has no such call.
    void AwaitWriteBack(uint64_t ullOffset, uint64_t ullLength) const;

private:
#ifdef _WIN32
    void* m_hFile = nullptr;  // the file's HANDLE; null when closed
#else
    int m_nFd = -1;
#endif
};

struct PathInfo {
    bool bExists = false;
    bool bDir = false;       // a folder, or a link to one
    bool bLink = false;      // the path itself is a symbolic link
    bool bReadOnly = false;  // no write permission bit at all
    uint64_t ullSize = 0;
};

// True when the folder that holds the path's last component can only be reached
// through a link that leads out of the shared folder (or has an absolute target): the
// path is refused as one with a ".." component is. False with wide links.
bool LeadsOutOfShare(const CShare& share, const std::string& strPath);

// True when the path reaches the shared folder itself, by whatever way (a link that
// leads back up included): told by the identity of the folder it resolves to, never by
// its text. False when it reaches something else or nothing.
bool IsShareRoot(const CShare& share, const std::string& strPath);

// Looks a path up (following a final link for bDir and the size, as far as the share
// lets it lead). 0, or -1 when missing or out of reach.
int GetPathInfo(const CShare& share, const std::string& strPath, PathInfo& info);

// Deletes one file (a link itself, never its target). Fails for a folder, a missing
// file, a file with no write permission bit, a file another opener holds, and a FIFO,
// socket or device. 0, or the system's error code negated.
int DeleteFile(const CShare& share, const std::string& strPath);
// Removes the name of a file the caller holds open and locked (an upload that is given
// up), but only while the name still leads to the held file itself: a file that someone
// moved into its place meanwhile is left alone (-EEXIST). 0, or a negative code.
int RemoveHeldFile(const CShare& share, const std::string& strPath, const CPlatFile& held);
// Removes the file at the path when it is still the file of the identity (the same
// volume, number and length) and no opener holds it; a link is never followed. 1 when it
// was removed; 0 when the name is missing or leads to another file (left as it is); -1
// when it is held by another opener or cannot be removed.
int RemoveIfSameFile(const CShare& share, const std::string& strPath, const FileIdentity& id);
// Creates one folder; fails when it exists or its parent is missing.
int MakeDirectory(const CShare& share, const std::string& strPath);
// Removes one empty folder (never a link to one).
int RemoveDirectory(const CShare& share, const std::string& strPath);

// The same for paths the daemon chose itself (the streaming server's folders), which
// are not confined to the shared folder.
int MakeDirectory(const std::string& strPath);

}  // namespace plat
