// Copying one file, link or folder tree beneath the shared folder, as the copy half of
// ShellFileOperation. Private to platform/posix.
#pragma once

#include <cstdint>
#include <string>

#include "platform/share.h"

namespace plat {

// Copies the item and, for a folder, everything below it, walking both trees by
// descriptors (platform/posix/treewalk.h): links are copied as links, devices, FIFOs and
// sockets are left out, an existing folder receives the copy and existing files are
// overwritten (not read-only ones). Goes on after a failure so that as much as possible
// is copied; 0 when all was.
int CopyItem(const CShare& share, const std::string& strSrc, const std::string& strDst);

// The bytes the files of the item (and below it) hold, links not followed.
uint64_t BytesToCopy(const CShare& share, const std::string& strSrc);

}  // namespace plat
