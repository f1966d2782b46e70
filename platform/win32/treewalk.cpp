#include "platform/win32/treewalk.h"

#include <utility>
#include <vector>

#include "platform/common/walk_hook.h"
#include "platform/win32/ownid.h"

namespace plat {

namespace {

int NegatedError(DWORD dwError) { return dwError == 0 ? -1 : -static_cast<int>(dwError & 0x7FFFFFFF); }

// Takes the read-only attribute off an open file (opened with FILE_WRITE_ATTRIBUTES).
bool ClearReadOnly(HANDLE h)
{
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof(basic)))
        return false;
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof(basic)) != 0;
}

// What a name of a tree is, looked at itself.
enum class Kind {
    Folder,     // a folder itself: to enter
    NotFolder,  // a file, or a link (to a folder or not): to delete itself
    Unusable,   // gone, the shared folder, or a name the system followed elsewhere
};

Kind KindOf(const std::wstring& wstrPath, const HandleInfo& root)
{
    CHandle h;
    bool bItself = false;
    HandleInfo info;
    if (OpenNameItself(wstrPath, FILE_READ_ATTRIBUTES, kShareAll, h, bItself) != 0 || !GetHandleInfo(h.Get(), info))
        return Kind::Unusable;
    if (info.IsLink() || !info.IsDir())
        return Kind::NotFolder;
    return bItself && !SameFile(info, root) ? Kind::Folder : Kind::Unusable;
}

// Reads the folder's names, deletes every one that is not a folder and returns the
// folders, to be entered one after the other. rc becomes -1 when something stays.
std::vector<std::wstring> RemoveFiles(const std::wstring& wstrDir, int nDepth, TreeWalk eWalk, bool bKeepRules,
                                      int& rc)
{
    std::vector<std::pair<std::wstring, bool>> names;  // name, a folder itself
    std::vector<std::wstring> folders;
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileExW((wstrDir + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                    FIND_FIRST_EX_LARGE_FETCH);
    if (hFind == INVALID_HANDLE_VALUE) {
        rc = -1;
        return folders;
    }
    do {
        const std::wstring wstrName = data.cFileName;
        if (wstrName == L"." || wstrName == L"..")
            continue;
        const bool bLink =
            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(data.dwReserved0);
        names.emplace_back(wstrName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !bLink);
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    CallTreeWalkHook(eWalk, nDepth);
    for (auto& [wstrName, bFolder] : names) {
        if (bFolder)
            folders.push_back(std::move(wstrName));
        else if (DeleteNameItself(wstrDir + L'\\' + wstrName, bKeepRules) != 0)
            rc = -1;
    }
    return folders;
}

// Removes an emptied folder itself (never a link to one). 0 or -1.
int RemoveFolderItself(const std::wstring& wstrPath)
{
    CHandle h;
    bool bItself = false;
    HandleInfo info;
    if (OpenNameItself(wstrPath, DELETE | FILE_READ_ATTRIBUTES, kShareAll, h, bItself) != 0 || !bItself ||
        !GetHandleInfo(h.Get(), info) || !info.IsDir() || info.IsLink())
        return -1;
    return MarkForDeletion(h.Get()) ? 0 : -1;
}

}  // namespace

bool MarkForDeletion(HANDLE h)
{
    // Its one member is named DeleteFile, which <windows.h> renamed as it declared it.
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof(disposition)) != 0;
}

int DeleteNameItself(const std::wstring& wstrPath, bool bKeepRules)
{
    // With the rules no sharing: a file that another opener holds, in this process or
    // another, cannot be had, and so is not deleted.
    const DWORD dwAccess = DELETE | FILE_READ_ATTRIBUTES | (bKeepRules ? 0 : FILE_WRITE_ATTRIBUTES);
    CHandle h;
    bool bItself = false;
    if (OpenNameItself(wstrPath, dwAccess, bKeepRules ? 0 : kShareAll, h, bItself) != 0)
        return NegatedError(GetLastError());
    HandleInfo info;
    if (!bItself || !GetHandleInfo(h.Get(), info) || IsOwnFileInOperation(IdOf(info)))
        return NegatedError(ERROR_ACCESS_DENIED);
    if (!info.IsLink()) {
        if (info.IsDir())
            return NegatedError(ERROR_DIRECTORY);
        if (info.IsReadOnly() && (bKeepRules || !ClearReadOnly(h.Get())))
            return NegatedError(ERROR_ACCESS_DENIED);
    }
    return MarkForDeletion(h.Get()) ? 0 : NegatedError(GetLastError());
}

bool ShareRootInfo(const CShare& share, HandleInfo& info)
{
    std::wstring wstrRoot;
    if (!ToWinPath(share.strRoot, wstrRoot))
        return false;
    CHandle h(CreateFileW(wstrRoot.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h.Ok() && GetHandleInfo(h.Get(), info) && info.IsDir();
}

int RemoveTreeAt(const std::wstring& wstrTop, TreeWalk eWalk, bool bKeepRules, const HandleInfo& root)
{
    struct CLevel {
        std::wstring wstrPath;
        std::vector<std::wstring> folders;  // still to enter
    };
    int rc = 0;
    std::vector<CLevel> levels;
    levels.push_back({wstrTop, RemoveFiles(wstrTop, 0, eWalk, bKeepRules, rc)});
    while (!levels.empty()) {
        if (!levels.back().folders.empty()) {
            std::wstring wstrPath = levels.back().wstrPath + L'\\' + levels.back().folders.back();
            levels.back().folders.pop_back();
            switch (KindOf(wstrPath, root)) {
            case Kind::Folder: {
                std::vector<std::wstring> folders =
                    RemoveFiles(wstrPath, static_cast<int>(levels.size()), eWalk, bKeepRules, rc);
                levels.push_back({std::move(wstrPath), std::move(folders)});
                break;
            }
            case Kind::NotFolder:
                // Swapped for a link (or a file) since the folder was read: removed itself.
                if (DeleteNameItself(wstrPath, bKeepRules) != 0)
                    rc = -1;
                break;
            case Kind::Unusable:
                rc = -1;
                break;
            }
            continue;
        }
        // Everything below is done: the folder goes, or stays holding what could not go.
        if (RemoveFolderItself(levels.back().wstrPath) != 0)
            rc = -1;
        levels.pop_back();
    }
    return rc;
}

}  // namespace plat
