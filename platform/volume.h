// Space on the volume that holds a path.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

struct VolumeSpace {
    uint64_t ullFreeBytes = 0;      // every free byte, not only the caller's share
    uint64_t ullTotalBytes = 0;
    uint32_t ulBytesPerSector = 512;
    uint32_t ulSectorsPerCluster = 0;
    uint64_t ullFreeClusters = 0;
    uint64_t ullTotalClusters = 0;
};

// 0, or -1 when the volume cannot be queried.
int GetVolumeSpace(const std::string& strPath, VolumeSpace& space);

}  // namespace plat
