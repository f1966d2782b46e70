// Folder listings: records of a flag byte (1 for a folder), the name and a 0 byte, back
// to back in enumeration order.
#pragma once

#include <cstdint>
#include <string>

#include "fs/names.h"
#include "net/cmdtable.h"
#include "platform/dir.h"

// FC_DIR_REQ: builds the folder's listing in the transfer buffer and answers its size;
// FC_DATA_REQ then fetches it.
CmdNext HandleDirReq(CSess& sess, CXferCtx& ctx);

// Without a buffer, reads the folder once and returns the size of its listing (0 when
// it cannot be read). With one, enumerates it again and writes the records in
// enumeration order, each only while it still fits into the capacity, and returns the
// size counted over every entry: a result other than the capacity means the folder
// changed in between. With names that convert, every name is listed in the STB's code
// page and one it cannot hold is left out (its line printed by the filling pass).
uint64_t BuildDirList(const plat::CShare& share, uint8_t* pBuffer, uint64_t ullCapacity, const std::string& strFolder,
                      CStbNames* pNames = nullptr);
