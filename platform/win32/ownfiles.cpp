#include "platform/ownfiles.h"

#include "platform/common/ownfiles_sys.h"
#include "platform/win32/beneath.h"
#include "platform/win32/ownid.h"

namespace plat {

namespace {

// Opens a path the daemon chose itself (its own files and the folders above them) for
// looking only, following links as the daemon does when it reads its files.
bool OpenToLook(const std::wstring& wstrPath, CHandle& h)
{
    h = CHandle(CreateFileW(wstrPath.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h.Ok();
}

bool IdOfHandle(HANDLE h, CFileId& id)
{
    HandleInfo info;
    if (!GetHandleInfo(h, info))
        return false;
    id = IdOf(info);
    return true;
}

std::wstring ParentOf(const std::wstring& wstrPath)
{
    const size_t n = wstrPath.rfind(L'\\');
    return n == std::wstring::npos ? std::wstring() : wstrPath.substr(0, n);
}

// The length of the root of an extended-length path ("\\?\C:\", "\\?\UNC\server\share\").
size_t RootLength(const std::wstring& wstrPath)
{
    if (wstrPath.compare(0, 8, L"\\\\?\\UNC\\") != 0)
        return 7;
    size_t n = wstrPath.find(L'\\', 8);
    n = n == std::wstring::npos ? std::wstring::npos : wstrPath.find(L'\\', n + 1);
    return n == std::wstring::npos ? wstrPath.size() : n + 1;
}

// The path's final path as far as it exists, the names below the last existing folder
// added as written. False when nothing of it can be opened.
bool FinalAsFarAsItExists(const std::string& strPath, std::wstring& wstrOut)
{
    std::wstring wstrHead;
    if (!ToWinPath(strPath, wstrHead))
        return false;
    const size_t nRoot = RootLength(wstrHead);
    std::wstring wstrTail;
    for (;;) {
        CHandle h;
        if (OpenToLook(wstrHead, h)) {
            if (!FinalPathOf(h.Get(), wstrOut))
                return false;
            while (!wstrOut.empty() && wstrOut.back() == L'\\')
                wstrOut.pop_back();
            wstrOut += wstrTail;
            return true;
        }
        const size_t n = wstrHead.rfind(L'\\');
        if (n == std::wstring::npos || n < nRoot)
            return false;
        wstrTail.insert(0, wstrHead.substr(n));
        wstrHead.resize(n);
    }
}

}  // namespace

bool SameEntryName(std::string_view a, std::string_view b)
{
    std::wstring wa, wb;
    if (!Utf8ToWide(a, wa) || !Utf8ToWide(b, wb))
        return a == b;
    return SamePath(wa, wb);
}

bool PositionBelow(const std::string& strFolder, const std::string& strPath, std::string& strRel)
{
    strRel.clear();
    std::wstring wstrFolder, wstrRoot, wstrReal;
    CHandle h;
    if (!ToWinPath(strFolder, wstrFolder) || !OpenToLook(wstrFolder, h) || !FinalPathOf(h.Get(), wstrRoot) ||
        !FinalAsFarAsItExists(strPath, wstrReal) || !IsBelow(wstrRoot, wstrReal))
        return false;
    std::wstring wstrRest = wstrReal.substr(wstrRoot.size());
    while (!wstrRest.empty() && wstrRest.front() == L'\\')
        wstrRest.erase(0, 1);
    for (wchar_t& c : wstrRest) {
        if (c == L'\\')
            c = L'/';
    }
    strRel = WideToUtf8(wstrRest);
    return true;
}

bool FileIdOfPath(const std::string& strPath, CFileId& id)
{
    std::wstring wstrPath;
    CHandle h;
    return ToWinPath(strPath, wstrPath) && OpenToLook(wstrPath, h) && IdOfHandle(h.Get(), id);
}

namespace {

// The folders from the one that holds the final path wstrOwn up to the shared folder's
// final path, added to way when they lie in it.
void WalkUp(const std::wstring& wstrRoot, const std::wstring& wstrOwn, std::vector<CFileId>& way)
{
    std::wstring wstrDir = ParentOf(wstrOwn);
    if (!IsBelow(wstrRoot, wstrDir))
        return;
    for (;;) {
        CHandle h;
        CFileId id;
        if (OpenToLook(wstrDir, h) && IdOfHandle(h.Get(), id))
            way.push_back(id);
        if (wstrDir.size() <= wstrRoot.size() || SamePath(wstrDir, wstrRoot))
            return;
        wstrDir = ParentOf(wstrDir);
    }
}

}  // namespace

void FoldersOnTheWay(const CShare& share, const std::string& strPath, std::vector<CFileId>& way)
{
    std::wstring wstrRoot, wstrOwn;
    if (ShareFinalPath(share, wstrRoot) != 0)
        return;
    // As the path reads (its folder resolved), and where the file itself leads.
    const size_t n = strPath.find_last_of("/\\");
    std::wstring wstrFolder;
    if (n != std::string::npos && FinalAsFarAsItExists(strPath.substr(0, n), wstrFolder))
        WalkUp(wstrRoot, wstrFolder + L"\\x", way);
    if (FinalAsFarAsItExists(strPath, wstrOwn))
        WalkUp(wstrRoot, wstrOwn, way);
}

void LookUpBeneath(const CShare& share, const std::string& strPath, std::optional<CFileId>& target,
                   std::optional<CFileId>& folder, std::string& strLast)
{
    CHandle h;
    CFileId id;
    if (OpenBeneath(share, strPath, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, h) ==
            0 &&
        IdOfHandle(h.Get(), id))
        target = id;
    folder = FolderIdBeneath(share, strPath, strLast);
}

std::optional<CFileId> FolderIdBeneath(const CShare& share, const std::string& strPath, std::string& strLast)
{
    strLast.assign(1, '.');
    std::wstring wstrPath;
    if (ResolveParent(share, strPath, wstrPath) != 0)
        return std::nullopt;
    if (NamesShareItself(share, strPath)) {
        CHandle h;
        CFileId id;
        if (!OpenToLook(wstrPath, h) || !IdOfHandle(h.Get(), id))
            return std::nullopt;
        return id;  // the shared folder itself: its own folder and "."
    }
    const size_t n = wstrPath.rfind(L'\\');
    if (n == std::wstring::npos)
        return std::nullopt;
    strLast = WideToUtf8(std::wstring_view(wstrPath).substr(n + 1));
    CHandle h;
    CFileId id;
    if (!OpenToLook(wstrPath.substr(0, n), h) || !IdOfHandle(h.Get(), id))
        return std::nullopt;
    return id;
}

bool IsOwnHandle(const COwnFiles& own, HANDLE h)
{
    CFileId id;
    return !own.Empty() && IdOfHandle(h, id) && own.IsFile(id);
}

bool IsOwnFileInOperation(const CFileId& id)
{
    const COwnFiles* pOwn = OwnFilesOfOperation();
    return pOwn != nullptr && !pOwn->Empty() && pOwn->IsFile(id);
}

}  // namespace plat
