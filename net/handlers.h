// Every command handler, by the family of commands it belongs to. A handler reads its
// request from the session's m_Packet (payload at offset 4, m_usLength - 2 bytes), does
// its work, builds its reply in place and sends it.
#pragma once

#include "net/cmdtable.h"

// Session commands.
CmdNext HandleVerReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleSessClose(CSess& sess, CXferCtx& ctx);
