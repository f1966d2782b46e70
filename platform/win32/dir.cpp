#include "platform/dir.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

#include "platform/ownfiles.h"
#include "platform/shellop.h"
#include "platform/win32/beneath.h"
#include "platform/win32/ownid.h"

namespace plat {

// An extended-length path holds up to 32,767 UTF-16 units, each at most 3 bytes of UTF-8.
const size_t kMaxPathBytes = 32767 * 3;

namespace {

// The folder's final path beneath the share, to enumerate: links on the way are resolved
// once, here, and checked. It ends with a separator.
bool FolderToEnumerate(const CShare& share, const std::string& strDir, std::wstring& wstrFolder)
{
    CHandle h;
    if (OpenBeneath(share, strDir, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, h) != 0)
        return false;
    HandleInfo info;
    if (GetFileType(h.Get()) != FILE_TYPE_DISK || !GetHandleInfo(h.Get(), info) || !info.IsDir() ||
        !FinalPathOf(h.Get(), wstrFolder))
        return false;
    if (wstrFolder.back() != L'\\')
        wstrFolder += L'\\';
    return true;
}

bool IsLinkEntry(const WIN32_FIND_DATAW& data)
{
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(data.dwReserved0);
}

// True when a folder entry that does not say it is a link leads elsewhere all the same:
// Wine shows the links of the host's file system as what they lead to. Only folders are
// looked at (a walk must not descend through a link); a file reached through a link is
// still checked wherever it is opened.
bool FolderEntryLeadsElsewhere(const std::wstring& wstrFolder, const WIN32_FIND_DATAW& data)
{
    const std::wstring wstrEntry = wstrFolder + data.cFileName;
    CHandle h(CreateFileW(wstrEntry.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::wstring wstrFinal;
    return h.Ok() && FinalPathOf(h.Get(), wstrFinal) && !SamePath(wstrFinal, wstrEntry);
}

// Walks the folder's entries as the system yields them. fnEach gets each one with its
// UTF-8 name and the folder's final path; false when the folder cannot be read.
bool EachEntry(const CShare& share, const std::string& strDir,
               const std::function<void(const std::wstring& wstrFolder, const WIN32_FIND_DATAW& data,
                                        std::string& strName)>& fnEach)
{
    std::wstring wstrFolder;
    if (!FolderToEnumerate(share, strDir, wstrFolder))
        return false;
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileExW((wstrFolder + L'*').c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                    FIND_FIRST_EX_LARGE_FETCH);
    if (hFind == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;  // a drive root with nothing in it
    do {
        std::string strName = WideToUtf8(data.cFileName);
        // A copy's file, not in its place yet, is never shown.
        if (!strName.empty() && !IsCopyTemporaryName(strName))
            fnEach(wstrFolder, data, strName);
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    return true;
}

// True when the entry of the folder (its final path, ending with a separator) stands in
// the place of one of the daemon's own files. The folder's identity is looked up once.
bool IsOwnPlace(const COwnFiles& own, const std::wstring& wstrFolder, const std::string& strName,
                std::optional<CFileId>& folderId)
{
    if (!own.HasName(strName))
        return false;
    if (!folderId) {
        CHandle h(CreateFileW(wstrFolder.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        HandleInfo info;
        if (!h.Ok() || !GetHandleInfo(h.Get(), info))
            return false;
        folderId = IdOf(info);
    }
    return own.IsPlace(*folderId, strName);
}

}  // namespace

int ReadDirectory(const CShare& share, const std::string& strDir, bool bSizes,
                  const std::function<void(FindEntry& entry)>& fnEntry)
{
    (void)bSizes;  // the enumeration gives every size at no cost
    const COwnFiles own(share);
    std::optional<CFileId> folderId;  // the folder's identity, once an entry needs it
    FindEntry e;
    const bool bRead = EachEntry(share, strDir, [&](const std::wstring& wstrFolder, const WIN32_FIND_DATAW& data,
                                                    std::string& strName) {
        e = FindEntry{};
        e.strName = std::move(strName);
        const bool bDirEntry = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && e.strName != "." &&
                               e.strName != "..";
        e.bLink = IsLinkEntry(data) || (bDirEntry && FolderEntryLeadsElsewhere(wstrFolder, data));
        DWORD dwAttributes = data.dwFileAttributes;
        uint64_t ullSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        bool ownTarget = false;  // a link that leads to one of the daemon's own files
        if (e.bLink) {
            // Typed by where it leads, when the share lets it lead there; otherwise a
            // link to nothing.
            CHandle t;
            HandleInfo target;
            const std::string strEntry = strDir + "/" + e.strName;
            if (OpenBeneath(share, strEntry, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                            t) == 0 &&
                GetFileType(t.Get()) == FILE_TYPE_DISK && GetHandleInfo(t.Get(), target)) {
                dwAttributes = target.dwAttributes;
                ullSize = target.ullSize;
                ownTarget = !own.Empty() && own.IsFile(IdOf(target));
            } else {
                dwAttributes = 0;
                ullSize = 0;
            }
        }
        e.bDir = (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.ullSize = e.bDir ? 0 : ullSize;
        if (!e.bDir && !own.Empty())
            e.bOwn = ownTarget || IsOwnPlace(own, wstrFolder, e.strName, folderId);
        fnEntry(e);
    });
    return bRead ? 0 : -1;
}

int MeasureDirectory(const CShare& share, const std::string& strDir, uint64_t& ullCount, uint64_t& ullNameBytes)
{
    ullCount = ullNameBytes = 0;
    const bool bRead = EachEntry(share, strDir, [&](const std::wstring&, const WIN32_FIND_DATAW&, std::string& strName) {
        ++ullCount;
        ullNameBytes += strName.size();
    });
    return bRead ? 0 : -1;
}

}  // namespace plat
