#include "platform/ownfiles.h"

#include <algorithm>

#include "platform/common/ownfiles_sys.h"

namespace plat {

namespace {

inline bool IsSeparator(char c)
{
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

thread_local const COwnFiles* t_pOperationOwn = nullptr;

}  // namespace

std::string_view LastName(std::string_view path)
{
    while (path.size() > 1 && IsSeparator(path.back()))
        path.remove_suffix(1);
    size_t n = path.size();
    while (n > 0 && !IsSeparator(path[n - 1]))
        --n;
    return path.substr(n);
}

COwnFiles::COwnFiles(const CShare& share) : m_share(share)
{
    if (!share.pOwnFiles)
        return;
    m_items.reserve(share.pOwnFiles->size());
    for (const std::string& strPath : *share.pOwnFiles) {
        if (strPath.empty())
            continue;
        CItem item;
        item.name = LastName(strPath);
        item.path = std::string_view(strPath).substr(0, static_cast<size_t>(item.name.data() - strPath.data()) +
                                                            item.name.size());
        item.bFolder = item.path.size() < strPath.size();
        m_items.push_back(item);
    }
}

void COwnFiles::LookUpFile(const CItem& item) const
{
    if (item.bLooked)
        return;
    item.bLooked = true;
    item.bFound = FileIdOfPath(std::string(item.path), item.id);
}

void COwnFiles::LookUpFolder(const CItem& item) const
{
    if (item.bFolderLooked)
        return;
    item.bFolderLooked = true;
    std::string strFolder(item.path.substr(0, static_cast<size_t>(item.name.data() - item.path.data())));
    if (strFolder.size() > 1)
        strFolder.pop_back();  // the separator before the name; "/" itself stays
    item.bFolderFound = !strFolder.empty() && FileIdOfPath(strFolder, item.folder);
}

bool COwnFiles::HasName(std::string_view name) const
{
    // Any name may lie in an own folder.
    return std::any_of(m_items.begin(), m_items.end(),
                       [&](const CItem& item) { return item.bFolder || SameEntryName(item.name, name); });
}

bool COwnFiles::IsFile(const CFileId& id) const
{
    for (const CItem& item : m_items) {
        LookUpFile(item);
        if (item.bFound && item.id == id)
            return true;
    }
    return false;
}

bool COwnFiles::MayBeFile(uint64_t ullIndex) const
{
    for (const CItem& item : m_items) {
        LookUpFile(item);
        if (item.bFound && item.id.ullIndex == ullIndex)
            return true;
    }
    return false;
}

bool COwnFiles::IsPlace(const CFileId& folder, std::string_view name) const
{
    for (const CItem& item : m_items) {
        if (item.bFolder) {
            // Every name in an own folder is an own file's place.
            LookUpFile(item);
            if (item.bFound && item.id == folder)
                return true;
        }
        if (!SameEntryName(item.name, name))
            continue;
        LookUpFolder(item);
        if (item.bFolderFound && item.folder == folder)
            return true;
    }
    return false;
}

bool COwnFiles::IsFolderOnTheWay(const CFileId& id) const
{
    if (!m_bWayLooked) {
        m_bWayLooked = true;
        for (const CItem& item : m_items)
            FoldersOnTheWay(m_share, std::string(item.path), m_way);
    }
    return std::find(m_way.begin(), m_way.end(), id) != m_way.end();
}

bool COwnFiles::Reaches(const std::string& strPath, bool bFolders) const
{
    if (Empty())
        return false;
    std::optional<CFileId> target, folder;
    std::string strLast;
    LookUpBeneath(m_share, strPath, target, folder, strLast);
    if (target && (IsFile(*target) || (bFolders && IsFolderOnTheWay(*target))))
        return true;
    return folder && IsPlace(*folder, strLast);
}

bool COwnFiles::IsPlaceOf(const std::string& strPath) const
{
    if (!HasName(LastName(strPath)))
        return false;
    std::string strLast;
    const std::optional<CFileId> folder = FolderIdBeneath(m_share, strPath, strLast);
    return folder && IsPlace(*folder, strLast);
}

COwnFilesScope::COwnFilesScope(const COwnFiles& own) : m_pEarlier(t_pOperationOwn) { t_pOperationOwn = &own; }

COwnFilesScope::~COwnFilesScope() { t_pOperationOwn = m_pEarlier; }

const COwnFiles* OwnFilesOfOperation() { return t_pOperationOwn; }

}  // namespace plat
