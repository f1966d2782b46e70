// Inside platform/posix: the own-file checks (platform/ownfiles.h) on what the system
// calls give, for the steps of a copy or move that meet one file at a time.
#pragma once

#include <sys/stat.h>

#include "platform/ownfiles.h"

namespace plat {

inline CFileId IdOf(const struct stat& st)
{
    return CFileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// True when the file is one of the daemon's own files: of the operation the calling
// thread runs (COwnFilesScope), none outside one.
bool IsOwnFileInOperation(const struct stat& st);
// True when the name in the open folder is an own file's place (the file, or where it
// would be made), for the operation the calling thread runs.
bool IsOwnPlaceInOperation(int dirfd, const char* pszName);

}  // namespace plat
