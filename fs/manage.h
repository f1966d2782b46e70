// Deleting files and folder trees, creating folders.
#pragma once

#include "net/cmdtable.h"

// FC_FILE_DEL_REQ, FC_MKDIR_REQ and FC_RMDIR_REQ: each answers one status byte.
CmdNext HandleFileDelReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleMkdirReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleRmdirReq(CSess& sess, CXferCtx& ctx);
