// The firmware query over the ".stb" files directly in the shared folder.
#pragma once

#include <cstdint>
#include <string>

#include "fs/names.h"
#include "net/cmdtable.h"

// FC_MODEL_VER_REQ: answers the name of the newest firmware file for the STB's model, or
// "not found"; an invalid request gets no reply.
CmdNext HandleModelVerReq(CSess& sess, CXferCtx& ctx);

// Looks at the files matching "*.stb" (any case) directly in the folder and yields the
// name of the one for the model with the highest version above the given one; the
// first enumerated wins a tie. False when none qualifies.
// The folder is the shared folder itself; with bWideLinks a ".stb" link may lead out of it.
// With names that convert, a file whose name the STB cannot be shown is passed over.
bool FindNewestStbFile(const std::string& strFolder, uint16_t usModel, uint16_t usVersion, std::string& strName,
                       bool bWideLinks = false, CStbNames* pNames = nullptr);
