// Deleting files and folder trees, creating folders.
#pragma once

#include <string>

#include "net/cmdtable.h"
#include "platform/share.h"

// FC_FILE_DEL_REQ, FC_MKDIR_REQ and FC_RMDIR_REQ: each answers one status byte.
CmdNext HandleFileDelReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleMkdirReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleRmdirReq(CSess& sess, CXferCtx& ctx);

// Deletes a folder and everything below it, as far as it can: what cannot be deleted (a
// read-only file, a file in use) stays, and with it the folders above it. A symbolic
// link is removed, never what it points to. The tree is walked from a list, not by
// recursion, however deep it is. Returns 0.
int DeleteDirTree(const plat::CShare& share, const std::string& strFolder);
