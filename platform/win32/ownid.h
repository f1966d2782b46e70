// Inside platform/win32: the own-file checks (platform/ownfiles.h) on open handles.
#pragma once

#include "platform/ownfiles.h"
#include "platform/win32/beneath.h"

namespace plat {

inline CFileId IdOf(const HandleInfo& info) { return CFileId{info.dwVolume, info.ullFileIndex}; }

// True when the open handle is one of the share's own files.
bool IsOwnHandle(const COwnFiles& own, HANDLE h);
// True when the identity is an own file of the operation the calling thread runs
// (COwnFilesScope); none outside one.
bool IsOwnFileInOperation(const CFileId& id);

}  // namespace plat
