#include "platform/shellop.h"

#include <string>
#include <vector>

#include "platform/common/ownfiles_sys.h"
#include "platform/win32/beneath.h"
#include "platform/win32/copyfile.h"
#include "platform/win32/ownid.h"
#include "platform/win32/treewalk.h"

#include <shellapi.h>

namespace plat {

namespace {

std::string WithoutTrailingSeparators(std::string str)
{
    while (str.size() > 1 && (str.back() == '/' || str.back() == '\\'))
        str.pop_back();
    return str;
}

std::string BaseName(const std::string& str)
{
    const size_t n = str.find_last_of("/\\");
    return n == std::string::npos ? str : str.substr(n + 1);
}

std::wstring ParentOf(const std::wstring& wstrPath)
{
    const size_t n = wstrPath.rfind(L'\\');
    return n == std::wstring::npos ? std::wstring() : wstrPath.substr(0, n);
}

// What a copy of a tree would read: its bytes, and whether it can be copied at all. The
// shell follows links as it copies, so a tree with a link to a folder (which could lead
// back into the tree) or, without wide links, a link out of the shared folder is
// refused. A link is told by its reparse point or, where the system follows links it
// does not show (Wine), by a final path that is not the entry's own.
struct CTreeMeasure {
    uint64_t ullBytes = 0;
    bool bCopyable = true;
};

// Looks one entry up where it leads. False when it may not be copied; ullBytes gets the
// bytes of a file, bFolder whether it is a folder to walk (never through a link).
bool LookUpEntry(const std::wstring& wstrEntry, bool bShownAsLink, const std::wstring& wstrRoot, bool bWideLinks,
                 uint64_t& ullBytes, bool& bFolder)
{
    ullBytes = 0;
    bFolder = false;
    CHandle h(CreateFileW(wstrEntry.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Ok())
        return bShownAsLink;  // a link that leads nowhere reads nothing; anything else must open
    HandleInfo target;
    std::wstring wstrFinal;
    if (GetFileType(h.Get()) != FILE_TYPE_DISK || !GetHandleInfo(h.Get(), target) || !FinalPathOf(h.Get(), wstrFinal))
        return false;
    const bool bLink = bShownAsLink || !SamePath(wstrFinal, wstrEntry);
    if (bLink && (target.IsDir() || !(bWideLinks || IsBelow(wstrRoot, wstrFinal))))
        return false;
    if (IsOwnFileInOperation(IdOf(target)))
        return false;  // the daemon's own files are never copied for an STB
    bFolder = target.IsDir();
    ullBytes = bFolder ? 0 : target.ullSize;
    return true;
}

CTreeMeasure MeasureTree(const std::wstring& wstrItem, bool bItemShownAsLink, const std::wstring& wstrRoot,
                         bool bWideLinks)
{
    CTreeMeasure m;
    bool bFolder = false;
    uint64_t ullBytes = 0;
    if (!LookUpEntry(wstrItem, bItemShownAsLink, wstrRoot, bWideLinks, ullBytes, bFolder)) {
        m.bCopyable = false;
        return m;
    }
    m.ullBytes = ullBytes;
    std::vector<std::wstring> folders;
    if (bFolder)
        folders.push_back(wstrItem);
    while (!folders.empty() && m.bCopyable) {
        const std::wstring wstrDir = std::move(folders.back());
        folders.pop_back();
        WIN32_FIND_DATAW data;
        HANDLE hFind = FindFirstFileExW((wstrDir + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                        nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (hFind == INVALID_HANDLE_VALUE)
            continue;
        do {
            const std::wstring wstrName = data.cFileName;
            if (wstrName == L"." || wstrName == L"..")
                continue;
            const std::wstring wstrEntry = wstrDir + L"\\" + wstrName;
            const bool bShownAsLink =
                (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(data.dwReserved0);
            if (!LookUpEntry(wstrEntry, bShownAsLink, wstrRoot, bWideLinks, ullBytes, bFolder)) {
                m.bCopyable = false;
            } else if (bFolder) {
                folders.push_back(wstrEntry);
            } else {
                m.ullBytes += ullBytes;
            }
        } while (m.bCopyable && FindNextFileW(hFind, &data));
        FindClose(hFind);
    }
    return m;
}

bool HasRoomFor(const std::wstring& wstrFolder, uint64_t ullBytes)
{
    std::wstring wstrDir = wstrFolder;
    if (wstrDir.back() != L'\\')
        wstrDir += L'\\';
    ULARGE_INTEGER ullCallerFree, ullTotal, ullFree;
    if (!GetDiskFreeSpaceExW(wstrDir.c_str(), &ullCallerFree, &ullTotal, &ullFree))
        return false;
    return ullBytes == 0 || ullBytes < ullFree.QuadPart;
}

// A list of one path for the shell: the plain form, ended by two terminators.
std::wstring ShellList(const std::wstring& wstrPath)
{
    std::wstring wstr = PlainWinPath(wstrPath);
    wstr += L'\0';
    wstr += L'\0';
    return wstr;
}

// Removes what a move across volumes has copied: the source, when it is still the item
// that was copied (a file or link itself, or a folder and everything below it).
int RemoveMovedSource(const std::wstring& wstrSrc, const HandleInfo& src, const HandleInfo& root)
{
    CHandle h;
    bool bItself = false;
    HandleInfo now;
    if (OpenNameItself(wstrSrc, FILE_READ_ATTRIBUTES, kShareAll, h, bItself) != 0 || !GetHandleInfo(h.Get(), now) ||
        !SameFile(now, src))
        return -1;
    h.Reset();
    if (!now.IsDir() || now.IsLink())
        return DeleteNameItself(wstrSrc, false) == 0 ? 0 : -1;
    return bItself ? RemoveTreeAt(wstrSrc, TreeWalk::Remove, false, root) : -1;
}

}  // namespace

int ShellFileOperation(const CFileOp& op)
{
    if (op.pFrom == nullptr || op.pTo == nullptr || *op.pFrom == '\0' || *op.pTo == '\0')
        return -1;
    const CShare& share = op.share;
    const std::string strSrc = WithoutTrailingSeparators(op.pFrom);
    const std::string strDst = WithoutTrailingSeparators(op.pTo);
    std::wstring wstrRoot, wstrSrc, wstrDst, wstrLanding;
    CHandle hSrc;
    HandleInfo src;
    bool bSrcItself = false;
    if (ShareFinalPath(share, wstrRoot) != 0 || ResolveParent(share, strSrc, wstrSrc) != 0 ||
        OpenNameItself(wstrSrc, FILE_READ_ATTRIBUTES, kShareAll, hSrc, bSrcItself) != 0 ||
        !GetHandleInfo(hSrc.Get(), src) || ResolveParent(share, strDst, wstrDst) != 0)
        return -1;
    // The shared folder itself goes nowhere, however the path names it.
    HandleInfo root;
    if (SamePath(wstrSrc, wstrRoot) || !ShareRootInfo(share, root) || (src.IsDir() && SameFile(src, root)))
        return -1;
    // The daemon's own files are neither copied, moved nor written over, whatever name
    // reaches them; the walk below checks the files it meets against them too.
    const COwnFiles own(share);
    const COwnFilesScope ownScope(own);
    if (own.IsFile(IdOf(src)))
        return -1;
    const bool bSrcLink = src.IsLink() || !bSrcItself;
    // Into an existing folder the item lands inside it; otherwise the destination names
    // it. A destination that leads out of the shared folder is refused.
    std::string strLanding = strDst;
    {
        CHandle hDir;
        HandleInfo dir;
        const int rc =
            OpenBeneath(share, strDst, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, hDir);
        if (rc == kOutOfShare)
            return -1;
        if (rc == 0 && GetHandleInfo(hDir.Get(), dir) && dir.IsDir()) {
            strLanding += '/';
            strLanding += BaseName(strSrc);
        }
    }
    if (ResolveParent(share, strLanding, wstrLanding) != 0 || own.IsPlaceOf(strLanding))
        return -1;
    const std::wstring wstrLandingParent = ParentOf(wstrLanding);
    // A folder copied into itself would grow until the volume is full.
    std::wstring wstrSrcFinal;
    if (src.IsDir() && !bSrcLink && (!FinalPathOf(hSrc.Get(), wstrSrcFinal) || IsBelow(wstrSrcFinal, wstrLandingParent)))
        return -1;
    {
        CHandle hLanding;
        HandleInfo landing;
        bool bLandingItself = false;
        if (OpenNameItself(wstrLanding, FILE_READ_ATTRIBUTES, kShareAll, hLanding, bLandingItself) == 0 &&
            GetHandleInfo(hLanding.Get(), landing)) {
            // An existing name that leads elsewhere would be written through.
            if ((!bLandingItself && !share.bWideLinks) || own.IsFile(IdOf(landing)))
                return -1;
            if (landing.dwVolume == src.dwVolume && landing.ullFileIndex == src.ullFileIndex)
                return op.wFunc == FileOpFunc::Move ? 0 : -1;  // the item onto itself
            if (!landing.IsDir() && landing.IsReadOnly())
                return -1;  // read-only files are not overwritten
        }
    }
    // A copy, or a move that is one because it crosses volumes, reads the whole tree.
    const bool bMove = op.wFunc == FileOpFunc::Move;
    bool bCrossVolume = false;
    if (bMove) {
        CHandle hParent(CreateFileW(wstrLandingParent.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        HandleInfo parent;
        bCrossVolume = !hParent.Ok() || !GetHandleInfo(hParent.Get(), parent) || parent.dwVolume != src.dwVolume;
    }
    if (!bMove || bCrossVolume) {
        const CTreeMeasure m = MeasureTree(wstrSrc, src.IsLink(), wstrRoot, share.bWideLinks);
        if (!m.bCopyable || !HasRoomFor(wstrLandingParent, m.ullBytes))
            return -1;
    }
    hSrc.Reset();
    // The openings of the transfer commands are share modes: a copy reads no file that an
    // upload writes, a move takes no file that anyone has open, and neither replaces one.
    const bool bSrcTree = src.IsDir() && !bSrcLink;
    if (!(bSrcTree ? TreeIsFree(wstrSrc, bMove) : FileIsFree(wstrSrc, bMove)) ||
        (bMove && !bCrossVolume && !src.IsDir() && !FileIsFree(wstrLanding, true)))
        return -1;
    if (!bMove || bCrossVolume) {
        // Each file through a temporary, flushed and moved into place; across volumes the
        // source is removed only once its copy is, and never through a reparse point.
        const int rc = CopyItemThrough(wstrSrc, wstrLanding, strLanding, op.pJournal);
        if (op.pJournal != nullptr)
            op.pJournal->Clear();
        if (rc != 0)
            return rc;
        return bCrossVolume ? RemoveMovedSource(wstrSrc, src, root) : 0;
    }
    if (!src.IsDir()) {
        // A file within its volume: renamed, on the disk when the call returns.
        return MoveFileExW(wstrSrc.c_str(), wstrLanding.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                   ? 0
                   : -1;
    }
    const std::wstring wstrFrom = ShellList(wstrSrc);
    const std::wstring wstrTo = ShellList(wstrDst);
    SHFILEOPSTRUCTW fo{};
    fo.wFunc = FO_MOVE;
    fo.pFrom = wstrFrom.c_str();
    fo.pTo = wstrTo.c_str();
    // Never a question and never an error box: the STB asked for the operation and learns
    // its failure from the status it polls, and a box that no one answers would hold the
    // session's worker. With the dialog running, the user sees the shell's progress
    // window; headless, there is no one to see it.
    fo.fFlags = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    if (!op.bInteractive)
        fo.fFlags |= FOF_SILENT;
    const int rc = SHFileOperationW(&fo);
    if (rc != 0 || fo.fAnyOperationsAborted)
        return rc != 0 ? rc : -1;
    return 0;
}

}  // namespace plat
