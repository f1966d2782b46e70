// Flushes of what platform/posix holds by descriptor (files, a copy's folders and volume),
// counted as every flush of the layer is (platform/flush.h). Private to platform/posix.
#pragma once

namespace plat {

// Brings the data of the file open at fd to the disk (fdatasync, again when a signal cut
// it short). 0 or -1.
int FlushFileAt(int fd);
// Brings the entries of the folder open at dirFd (any kind of descriptor, O_PATH too) to
// the disk. 0 or -1.
int FlushFolderAt(int dirFd);
// Brings everything written to the volume that holds fd to the disk (syncfs). 0 or -1.
int FlushVolumeAt(int fd);

}  // namespace plat
