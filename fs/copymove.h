// FC_FILE_CPY_REQ and FC_FILE_MOV_REQ: one copy or move per session, run by a worker
// thread; every later request of either kind reports its status.
#pragma once

#include "net/cmdtable.h"

CmdNext HandleFileCpyReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleFileMovReq(CSess& sess, CXferCtx& ctx);
