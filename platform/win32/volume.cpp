#include "platform/volume.h"

#include "platform/win32/beneath.h"

namespace plat {

int GetVolumeSpace(const std::string& strPath, VolumeSpace& space)
{
    space = VolumeSpace{};
    std::wstring wstrPath;
    if (!ToWinPath(strPath, wstrPath))
        return -1;
    if (wstrPath.back() != L'\\')
        wstrPath += L'\\';
    ULARGE_INTEGER ullCallerFree, ullTotal, ullFree;
    if (!GetDiskFreeSpaceExW(wstrPath.c_str(), &ullCallerFree, &ullTotal, &ullFree))
        return -1;
    space.ullFreeBytes = ullFree.QuadPart;  // every free byte, not only the caller's quota
    space.ullTotalBytes = ullTotal.QuadPart;
    // The cluster geometry comes from the volume's root. Its cluster counts stop at 32
    // bits on large volumes, so they are worked out from the byte counts instead.
    wchar_t szRoot[MAX_PATH + 1] = {};
    DWORD dwSectorsPerCluster = 0, dwBytesPerSector = 0, dwFreeClusters = 0, dwClusters = 0;
    if (GetVolumePathNameW(wstrPath.c_str(), szRoot, MAX_PATH) &&
        GetDiskFreeSpaceW(szRoot, &dwSectorsPerCluster, &dwBytesPerSector, &dwFreeClusters, &dwClusters) &&
        dwSectorsPerCluster != 0 && dwBytesPerSector != 0) {
        space.ulBytesPerSector = dwBytesPerSector;
        space.ulSectorsPerCluster = dwSectorsPerCluster;
    } else {
        space.ulBytesPerSector = 512;
        space.ulSectorsPerCluster = 8;
    }
    const uint64_t ullCluster = static_cast<uint64_t>(space.ulBytesPerSector) * space.ulSectorsPerCluster;
    space.ullFreeClusters = space.ullFreeBytes / ullCluster;
    space.ullTotalClusters = space.ullTotalBytes / ullCluster;
    return 0;
}

}  // namespace plat
