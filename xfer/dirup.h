// The directory upload transaction: FC_DIR_UP_REQ names the receiving folder, then the
// session serves only RS_FILE_UP_REQ and RS_DATA_UP_REQ until the connection ends.
#pragma once

#include "net/cmdtable.h"

CmdNext HandleDirUpReq(CSess& sess, CXferCtx& ctx);
// Makes an entry's folder, or creates its file as an upload (see BeginUpload).
CmdNext HandleRsFileUpReq(CSess& sess, CXferCtx& ctx);
// Stores one block of the entry's file (see TakeBlock).
CmdNext HandleRsDataUpReq(CSess& sess, CXferCtx& ctx);
