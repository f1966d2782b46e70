#include "platform/volume.h"

#include <sys/statvfs.h>

namespace plat {

int GetVolumeSpace(const std::string& strPath, VolumeSpace& space)
{
    space = VolumeSpace{};
    struct statvfs vfs;
    if (statvfs(strPath.c_str(), &vfs) != 0)
        return -1;
    uint64_t ullCluster = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
    space.ullFreeClusters = vfs.f_bfree;
    space.ullTotalClusters = vfs.f_blocks;
    space.ullFreeBytes = static_cast<uint64_t>(vfs.f_bfree) * ullCluster;
    space.ullTotalBytes = static_cast<uint64_t>(vfs.f_blocks) * ullCluster;
    space.ulBytesPerSector = 512;
    space.ulSectorsPerCluster = static_cast<uint32_t>(ullCluster / 512);
    return 0;
}

}  // namespace plat
