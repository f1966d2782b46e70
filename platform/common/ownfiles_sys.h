// Inside the platform layer: what each system gives the own-file checks
// (platform/ownfiles.h), and the own files of the operation a thread runs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ownfiles.h"

namespace plat {

// The identity of what the path leads to (links followed); false when it cannot be had.
bool FileIdOfPath(const std::string& strPath, CFileId& id);
// The folders from the one that holds strPath (or, when that is missing, the nearest one
// above it that exists) up to and including the shared folder, each by its identity,
// and the same from where strPath leads when it is a link; none of a way that does not
// lie in the shared folder.
void FoldersOnTheWay(const CShare& share, const std::string& strPath, std::vector<CFileId>& way);
// The identities of what the local path leads to beneath the share and of the folder
// that holds its last component (strLast: that component; "." for the shared folder
// itself), each when it is there.
void LookUpBeneath(const CShare& share, const std::string& strPath, std::optional<CFileId>& target,
                   std::optional<CFileId>& folder, std::string& strLast);
// The folder that holds the local path's last component (strLast) beneath the share.
std::optional<CFileId> FolderIdBeneath(const CShare& share, const std::string& strPath, std::string& strLast);

// The last name of a path (trailing separators left out).
std::string_view LastName(std::string_view path);

// Makes own the own files of the operation the calling thread runs, until the scope ends:
// the steps deep inside a copy or move check each file they open against them.
class COwnFilesScope {
public:
    explicit COwnFilesScope(const COwnFiles& own);
    ~COwnFilesScope();
    COwnFilesScope(const COwnFilesScope&) = delete;
    COwnFilesScope& operator=(const COwnFilesScope&) = delete;

private:
    const COwnFiles* m_pEarlier;
};
// The own files of the calling thread's operation; null outside every scope.
const COwnFiles* OwnFilesOfOperation();

}  // namespace plat
