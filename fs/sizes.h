// FC_DISK_SIZE_REQ and FC_FILE_SIZE_REQ: the size of the shared volume and of one file.
#pragma once

#include <cstdint>
#include <string>

#include "net/cmdtable.h"

// Answers the unit, the free and the total units of the shared folder's volume.
CmdNext HandleDiskSizeReq(CSess& sess, CXferCtx& ctx);
// Answers a file's size in the width FileSizeWidth gives it, and records it.
CmdNext HandleFileSizeReq(CSess& sess, CXferCtx& ctx);

// The free and total space of the folder's volume counted in ulUnit bytes (0: the
// cluster size, which is then written back into ulUnit). Counts keep their low 32 bits.
// 0, or -1 when the volume cannot be queried (nothing is written then).
int GetDiskUnits(const std::string& strFolder, uint32_t& ulUnit, uint32_t* pulFree, uint32_t* pulTotal);
