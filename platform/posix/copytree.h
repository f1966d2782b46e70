// Copying one file, link or folder tree beneath the shared folder, as the copy half of
// ShellFileOperation. Private to platform/posix.
#pragma once

#include <string>

#include "platform/posix/copyfile.h"
#include "platform/share.h"

namespace plat {

// Copies the item and, for a folder, everything below it, walking both trees by
// descriptors (platform/posix/treewalk.h): links are copied as links, devices, FIFOs and
// sockets are left out, as are the temporaries of other copies; an existing folder
// receives the copy and existing files are replaced (not read-only ones, nor ones in
// use), each file through a temporary (platform/posix/copyfile.h). Every folder that
// received anything is flushed. Goes on after a failure so that as much as possible is
// copied; 0 when all was.
int CopyItem(const CShare& share, const std::string& strSrc, const std::string& strDst, const CCopyRun& run);

}  // namespace plat
