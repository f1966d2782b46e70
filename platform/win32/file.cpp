#include "platform/file.h"

#include "platform/common/flush_note.h"
#include "platform/common/ownfiles_sys.h"
#include "platform/ownfiles.h"
#include "platform/win32/beneath.h"
#include "platform/win32/ownid.h"
#include "platform/win32/treewalk.h"

namespace plat {

namespace {

// The writing openings share with nobody but RemoveHeldFile, which removes the name of
// a file its holder gives up while the holder still has it: Windows deletes only through
// a handle of its own, and every other opener is kept out all the same (a download wants
// to read, DeleteFile opens with no sharing at all).
constexpr DWORD kShareWriter = FILE_SHARE_DELETE;

HANDLE AsHandle(void* p) { return static_cast<HANDLE>(p); }

int NegatedLastError()
{
    const DWORD dw = GetLastError();
    return dw == 0 ? -1 : -static_cast<int>(dw & 0x7FFFFFFF);
}

// Only a file on a disk is kept: never a folder, a device or a pipe; for writing, never
// a read-only file (checked on the opened file: the system lets some users write anyway,
// root under Wine among them).
bool IsPlainFile(HANDLE h, bool bWrite = false)
{
    HandleInfo info;
    return GetFileType(h) == FILE_TYPE_DISK && GetHandleInfo(h, info) && !info.IsDir() &&
           !(bWrite && info.IsReadOnly());
}

// One ReadFile or WriteFile moves at most 1 GiB (its count is a DWORD), at the offset
// given in the OVERLAPPED record.
DWORD ChunkOf(size_t nLeft) { return nLeft > 0x40000000 ? 0x40000000 : static_cast<DWORD>(nLeft); }

OVERLAPPED At(uint64_t ullOffset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(ullOffset);
    at.OffsetHigh = static_cast<DWORD>(ullOffset >> 32);
    return at;
}

bool SetEnd(HANDLE h, uint64_t ullLength)
{
    FILE_END_OF_FILE_INFO eof{};
    eof.EndOfFile.QuadPart = static_cast<LONGLONG>(ullLength);
    return SetFileInformationByHandle(h, FileEndOfFileInfo, &eof, sizeof(eof)) != 0;
}

// Opens an existing file beneath the share, following links; never one of the daemon's
// own files, whatever name reaches it.
HANDLE OpenExisting(const CShare& share, const std::string& strPath, DWORD dwAccess, DWORD dwShare)
{
    CHandle h;
    if (OpenBeneath(share, strPath, dwAccess, dwShare, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, h) != 0 ||
        !IsPlainFile(h.Get(), (dwAccess & GENERIC_WRITE) != 0) || IsOwnHandle(COwnFiles(share), h.Get()))
        return nullptr;
    return h.Release();
}

// The upload target: an existing file is taken (and truncated once it is held); a
// missing one is created under its own name, never through a link, and kept only when it
// really lies in the shared folder. Never one of the daemon's own files, nor one made in
// an own file's place.
HANDLE OpenUploadTarget(const CShare& share, const std::string& strPath)
{
    const COwnFiles own(share);
    if (own.IsPlaceOf(strPath))
        return nullptr;
    CHandle h;
    const int rc = OpenBeneath(share, strPath, GENERIC_WRITE, kShareWriter, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, h);
    if (rc == 0) {
        if (!IsPlainFile(h.Get(), true) || IsOwnHandle(own, h.Get()) || !SetEnd(h.Get(), 0))
            return nullptr;
        return h.Release();
    }
    if (rc != kNotFound || GetLastError() != ERROR_FILE_NOT_FOUND)
        return nullptr;
    std::wstring wstrPath;
    if (ResolveParent(share, strPath, wstrPath) != 0)
        return nullptr;
    CHandle created(CreateFileW(wstrPath.c_str(), GENERIC_WRITE | DELETE, kShareWriter, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!created.Ok())
        return nullptr;
    std::wstring wstrRoot, wstrFinal;
    if (!share.bWideLinks && (ShareFinalPath(share, wstrRoot) != 0 || !FinalPathOf(created.Get(), wstrFinal) ||
                              !IsBelow(wstrRoot, wstrFinal))) {
        // A folder on the way was swapped for a link meanwhile: take the file back.
        MarkForDeletion(created.Get());
        return nullptr;
    }
    return created.Release();
}

}  // namespace

int CPlatFile::Open(const CShare& share, const std::string& strPath, OpenMode mode)
{
    Close();
    HANDLE h = nullptr;
    switch (mode) {
    case OpenMode::Download:
        h = OpenExisting(share, strPath, GENERIC_READ, FILE_SHARE_READ);
        break;
    case OpenMode::Probe:
        h = OpenExisting(share, strPath, GENERIC_READ, 0);
        break;
    case OpenMode::UploadCompletion:
        h = OpenExisting(share, strPath, GENERIC_WRITE, kShareWriter);
        break;
    case OpenMode::UploadTarget:
        h = OpenUploadTarget(share, strPath);
        break;
    }
    if (h == nullptr)
        return -1;
    m_hFile = h;
    return 0;
}

void CPlatFile::Close()
{
    if (m_hFile != nullptr) {
        CloseHandle(AsHandle(m_hFile));
        m_hFile = nullptr;
    }
}

int64_t CPlatFile::Length() const
{
    LARGE_INTEGER size;
    if (m_hFile == nullptr || !GetFileSizeEx(AsHandle(m_hFile), &size))
        return -1;
    return static_cast<int64_t>(size.QuadPart);
}

int64_t CPlatFile::ReadAt(uint64_t ullOffset, void* pBuf, size_t n) const
{
    char* p = static_cast<char*>(pBuf);
    size_t nDone = 0;
    while (nDone < n) {
        OVERLAPPED at = At(ullOffset + nDone);
        DWORD dwGot = 0;
        if (!ReadFile(AsHandle(m_hFile), p + nDone, ChunkOf(n - nDone), &dwGot, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            return -1;
        }
        if (dwGot == 0)
            break;
        nDone += dwGot;
    }
    return static_cast<int64_t>(nDone);
}

int CPlatFile::WriteAt(uint64_t ullOffset, const void* pBuf, size_t n) const
{
    const char* p = static_cast<const char*>(pBuf);
    size_t nDone = 0;
    while (nDone < n) {
        OVERLAPPED at = At(ullOffset + nDone);
        DWORD dwPut = 0;
        if (!WriteFile(AsHandle(m_hFile), p + nDone, ChunkOf(n - nDone), &dwPut, &at) || dwPut == 0)
            return -1;
        nDone += dwPut;
    }
    return 0;
}

int CPlatFile::SetLength(uint64_t ullLength) const
{
    if (m_hFile == nullptr || ullLength > static_cast<uint64_t>(INT64_MAX))
        return -1;
    return SetEnd(AsHandle(m_hFile), ullLength) ? 0 : -1;
}

int CPlatFile::Reserve(uint64_t ullLength) const
{
    if (m_hFile == nullptr || ullLength > static_cast<uint64_t>(INT64_MAX))
        return -1;
    if (ullLength == 0)
        return SetLength(0);
    // The clusters first, then the length: a volume that cannot hold the file says so
    // here, not at a later write.
    FILE_ALLOCATION_INFO alloc{};
    alloc.AllocationSize.QuadPart = static_cast<LONGLONG>(ullLength);
    const bool bAllocated = SetFileInformationByHandle(AsHandle(m_hFile), FileAllocationInfo, &alloc, sizeof(alloc)) != 0;
    const DWORD dwAllocError = bAllocated ? 0 : GetLastError();
    if ((dwAllocError == ERROR_DISK_FULL || dwAllocError == ERROR_HANDLE_DISK_FULL) || SetLength(ullLength) != 0) {
        SetLength(0);  // give back what the attempt took
        return -1;
    }
    return 0;
}

int CPlatFile::Identity(FileIdentity& id) const
{
    HandleInfo info;
    if (m_hFile == nullptr || !GetHandleInfo(AsHandle(m_hFile), info))
        return -1;
    id.ullVolume = info.dwVolume;
    id.ullIndex = info.ullFileIndex;
    id.ullSize = info.ullSize;
    return 0;
}

int CPlatFile::Flush() const
{
    if (m_hFile == nullptr)
        return -1;
    NoteFlush(FlushKind::File);
    return FlushFileBuffers(AsHandle(m_hFile)) ? 0 : -1;
}

// Windows starts no write-back of a range on request: FlushFileBuffers at the end is
// what it offers.
void CPlatFile::StartWriteBack(uint64_t, uint64_t) const {}

void CPlatFile::AwaitWriteBack(uint64_t, uint64_t) const {}

bool LeadsOutOfShare(const CShare& share, const std::string& strPath)
{
    if (share.bWideLinks)
        return false;
    CHandle parent;
    return OpenParentBeneath(share, strPath, parent) == kOutOfShare;
}

int GetPathInfo(const CShare& share, const std::string& strPath, PathInfo& info)
{
    info = PathInfo{};
    std::wstring wstrPath;
    CHandle h;
    bool bItself = false;
    if (ResolveParent(share, strPath, wstrPath) != 0 ||
        OpenNameItself(wstrPath, FILE_READ_ATTRIBUTES, kShareAll, h, bItself) != 0)
        return -1;
    HandleInfo itself;
    if (!GetHandleInfo(h.Get(), itself))
        return -1;
    info.bExists = true;
    // A name whose handle reached another place is a link the system followed anyway.
    info.bLink = itself.IsLink() || !bItself;
    HandleInfo target = itself;
    if (info.bLink) {
        // Where the link leads, if the share lets it lead there; a link out of the
        // shared folder is a link to nothing.
        CHandle t;
        if (OpenBeneath(share, strPath, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, t) !=
                0 ||
            GetFileType(t.Get()) != FILE_TYPE_DISK || !GetHandleInfo(t.Get(), target))
            target = HandleInfo{};
    }
    info.bDir = target.IsDir();
    // The read-only attribute of a folder only marks it for the shell; files alone are
    // read-only.
    info.bReadOnly = !info.bDir && target.IsReadOnly();
    info.ullSize = info.bDir ? 0 : target.ullSize;
    return 0;
}

namespace {

// Opens the name itself beneath the share (never where a link leads) with DELETE access
// and the other rights and sharing given. 0, or the negated system error.
int OpenToDelete(const CShare& share, const std::string& strPath, DWORD dwMoreAccess, DWORD dwShare, CHandle& h)
{
    std::wstring wstrPath;
    const int rc = ResolveParent(share, strPath, wstrPath);
    if (rc != 0)
        return rc == kOutOfShare ? -static_cast<int>(ERROR_ACCESS_DENIED) : NegatedLastError();
    bool bItself = false;
    if (OpenNameItself(wstrPath, DELETE | dwMoreAccess, dwShare, h, bItself) != 0)
        return NegatedLastError();
    return bItself ? 0 : -static_cast<int>(ERROR_ACCESS_DENIED);
}

}  // namespace

int DeleteFile(const CShare& share, const std::string& strPath)
{
    std::wstring wstrPath;
    if (const int rc = ResolveParent(share, strPath, wstrPath); rc != 0)
        return rc == kOutOfShare ? -static_cast<int>(ERROR_ACCESS_DENIED) : NegatedLastError();
    const COwnFiles own(share);
    const COwnFilesScope ownScope(own);  // the daemon's own file: as out of the share
    return DeleteNameItself(wstrPath, true);
}

int RemoveHeldFile(const CShare& share, const std::string& strPath, const CPlatFile& held)
{
    FileIdentity heldId;
    if (held.Identity(heldId) != 0)
        return -static_cast<int>(ERROR_INVALID_HANDLE);
    CHandle h;
    if (const int rc = OpenToDelete(share, strPath, FILE_READ_ATTRIBUTES, kShareAll, h); rc != 0)
        return rc;
    // The name may have been moved aside and another file put in its place: only the
    // held file's own name goes.
    HandleInfo info;
    if (!GetHandleInfo(h.Get(), info) || info.dwVolume != heldId.ullVolume || info.ullFileIndex != heldId.ullIndex)
        return -static_cast<int>(ERROR_FILE_EXISTS);
    return MarkForDeletion(h.Get()) ? 0 : NegatedLastError();
}

int RemoveIfSameFile(const CShare& share, const std::string& strPath, const FileIdentity& id)
{
    // No sharing: a file that another opener holds cannot be had, and stays. A name that
    // cannot be reached any more is not that file.
    CHandle h;
    if (const int rc = OpenToDelete(share, strPath, FILE_READ_ATTRIBUTES, 0, h); rc != 0)
        return static_cast<DWORD>(-rc) == ERROR_SHARING_VIOLATION ? -1 : 0;
    HandleInfo info;
    if (!GetHandleInfo(h.Get(), info))
        return -1;
    if (info.IsDir() || info.IsLink() || info.dwVolume != id.ullVolume || info.ullFileIndex != id.ullIndex ||
        info.ullSize != id.ullSize)
        return 0;
    return MarkForDeletion(h.Get()) ? 1 : -1;
}

int MakeDirectory(const CShare& share, const std::string& strPath)
{
    std::wstring wstrPath;
    if (COwnFiles(share).IsPlaceOf(strPath) || ResolveParent(share, strPath, wstrPath) != 0 ||
        !CreateDirectoryW(wstrPath.c_str(), nullptr))
        return -1;
    // A folder on the way swapped for a link between the check and the creation puts the
    // new folder somewhere else: it is taken back (it is ours and empty) and refused.
    CHandle h;
    bool bItself = false;
    if (OpenNameItself(wstrPath, DELETE | FILE_READ_ATTRIBUTES, kShareAll, h, bItself) != 0)
        return -1;
    if (!bItself && !share.bWideLinks) {
        MarkForDeletion(h.Get());
        return -1;
    }
    return 0;
}

int RemoveDirectory(const CShare& share, const std::string& strPath)
{
    std::wstring wstrPath;
    CHandle h;
    bool bItself = false;
    // The shared folder itself is never removed, however the path names it.
    if (NamesShareItself(share, strPath) || ResolveParent(share, strPath, wstrPath) != 0 ||
        OpenNameItself(wstrPath, DELETE | FILE_READ_ATTRIBUTES, kShareAll, h, bItself) != 0)
        return -1;
    HandleInfo info;
    // A link to a folder is not the folder: it stays (the system removes it as one).
    if (!bItself || !GetHandleInfo(h.Get(), info) || !info.IsDir() || info.IsLink())
        return -1;
    // Refused while the folder holds anything.
    return MarkForDeletion(h.Get()) ? 0 : -1;
}

int MakeDirectory(const std::string& strPath)
{
    std::wstring wstrPath;
    if (!ToWinPath(strPath, wstrPath))
        return -1;
    return CreateDirectoryW(wstrPath.c_str(), nullptr) ? 0 : -1;
}

}  // namespace plat
