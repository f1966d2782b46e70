#include "platform/tree.h"

#include <memory>

#include "platform/common/ownfiles_sys.h"
#include "platform/file.h"
#include "platform/win32/beneath.h"
#include "platform/win32/treewalk.h"

namespace plat {

bool IsShareRoot(const CShare& share, const std::string& strPath)
{
    CHandle h;
    HandleInfo info, root;
    return OpenBeneath(share, strPath, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, h) ==
               0 &&
           GetHandleInfo(h.Get(), info) && info.IsDir() && ShareRootInfo(share, root) && SameFile(info, root);
}

int DeleteTree(const CShare& share, const std::string& strPath)
{
    // Every file is deleted by the rules of DeleteFile, the daemon's own files kept.
    const COwnFiles own(share);
    const COwnFilesScope ownScope(own);
    std::wstring wstrTop;
    CHandle h;
    bool bItself = false;
    HandleInfo top, root;
    if (ResolveParent(share, strPath, wstrTop) != 0 ||
        OpenNameItself(wstrTop, FILE_READ_ATTRIBUTES, kShareAll, h, bItself) != 0 || !GetHandleInfo(h.Get(), top))
        return 0;  // nothing there
    if (top.IsLink() || !bItself) {
        // A link named as the folder goes itself (where the system lets it be had as
        // itself), and nothing it leads to.
        h.Reset();
        DeleteNameItself(wstrTop, true);
        return 0;
    }
    if (!top.IsDir() || !ShareRootInfo(share, root))
        return 0;
    // Judged on the folder opened, not on the path.
    if (SameFile(top, root))
        return -1;
    h.Reset();
    RemoveTreeAt(wstrTop, TreeWalk::Delete, true, root);
    return 0;
}

// The base folder's final path, resolved once: an entry's path is built on it, and a
// handle opened by that path is used only when its own final path is that path, which
// it is not when any folder on the way is a link.
struct CListedTree::CImpl {
    explicit CImpl(const CShare& shareIn) : share(shareIn), own(share) {}
    CShare share;
    COwnFiles own;  // kept by every deletion
    std::wstring wstrBase;  // empty when the base could not be resolved
    HandleInfo root;
    bool bRootKnown = false;

    // The entry's path below the base; false for a name that cannot be one.
    bool EntryPath(const std::string& strRel, std::wstring& wstrOut) const;
};

bool CListedTree::CImpl::EntryPath(const std::string& strRel, std::wstring& wstrOut) const
{
    std::wstring wstrRel;
    if (wstrBase.empty() || !Utf8ToWide(strRel, wstrRel))
        return false;
    wstrOut = wstrBase;
    bool bAny = false;
    for (size_t i = 0; i <= wstrRel.size();) {
        size_t j = wstrRel.find_first_of(L"/\\", i);
        if (j == std::wstring::npos)
            j = wstrRel.size();
        const std::wstring_view comp = std::wstring_view(wstrRel).substr(i, j - i);
        if (comp == L".." || comp.find(L':') != std::wstring_view::npos)
            return false;
        if (!comp.empty() && comp != L".") {
            if (wstrOut.back() != L'\\')
                wstrOut += L'\\';
            wstrOut.append(comp);
            bAny = true;
        }
        i = j + 1;
    }
    return bAny;
}

CListedTree::CListedTree(const CShare& share, const std::string& strBase) : m_pImpl(std::make_unique<CImpl>(share))
{
    CHandle h;
    HandleInfo info;
    if (OpenBeneath(share, strBase, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, h) !=
            0 ||
        !GetHandleInfo(h.Get(), info) || !info.IsDir() || !FinalPathOf(h.Get(), m_pImpl->wstrBase))
        m_pImpl->wstrBase.clear();
    m_pImpl->bRootKnown = ShareRootInfo(share, m_pImpl->root);
}

CListedTree::~CListedTree() = default;

int CListedTree::DeleteFile(const std::string& strRel)
{
    std::wstring wstrPath;
    if (!m_pImpl->EntryPath(strRel, wstrPath))
        return -static_cast<int>(ERROR_INVALID_NAME);
    const COwnFilesScope ownScope(m_pImpl->own);
    return DeleteNameItself(wstrPath, true);
}

FolderRemoval CListedTree::RemoveFolder(const std::string& strRel)
{
    std::wstring wstrPath;
    CHandle h;
    bool bItself = false;
    HandleInfo info;
    if (!m_pImpl->EntryPath(strRel, wstrPath) ||
        OpenNameItself(wstrPath, DELETE | FILE_READ_ATTRIBUTES, kShareAll, h, bItself) != 0 || !bItself ||
        !GetHandleInfo(h.Get(), info) || !info.IsDir() || info.IsLink())
        return FolderRemoval::Failed;
    if (!m_pImpl->bRootKnown || SameFile(info, m_pImpl->root))
        return FolderRemoval::LeftInPlace;
    if (MarkForDeletion(h.Get()))
        return FolderRemoval::Removed;
    return GetLastError() == ERROR_DIR_NOT_EMPTY ? FolderRemoval::LeftInPlace : FolderRemoval::Failed;
}

}  // namespace plat
