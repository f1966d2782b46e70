// FC_VER_REQ and FC_SESS_CLOSE: the two commands that need no file system.
#pragma once

#include "net/cmdtable.h"

// Answers the protocol version.
CmdNext HandleVerReq(CSess& sess, CXferCtx& ctx);
// Ends the session without a reply.
CmdNext HandleSessClose(CSess& sess, CXferCtx& ctx);
