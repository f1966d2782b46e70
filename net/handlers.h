// Every command handler, by the family of commands it belongs to. A handler reads its
// request from the session's m_Packet (payload at offset 4, m_usLength - 2 bytes), does
// its work, builds its reply in place and sends it.
#pragma once

#include "net/cmdtable.h"

// Session commands.
CmdNext HandleVerReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleSessClose(CSess& sess, CXferCtx& ctx);

// File download.
CmdNext HandleFileDnReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleDataReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleBigDataReq(CSess& sess, CXferCtx& ctx);

// Folder listing.
CmdNext HandleDirReq(CSess& sess, CXferCtx& ctx);

// File and folder management.
CmdNext HandleFileDelReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleMkdirReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleRmdirReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleDiskSizeReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleFileSizeReq(CSess& sess, CXferCtx& ctx);

// File upload.
CmdNext HandleFileUpReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleBigFileUpReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleDataUpReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleBigDataUpReq(CSess& sess, CXferCtx& ctx);

// Copy and move.
CmdNext HandleFileCpyReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleFileMovReq(CSess& sess, CXferCtx& ctx);

// Directory download transaction.
CmdNext HandleDirDnReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleRsFileDnReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleRsDataReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleRsAfterMoveReq(CSess& sess, CXferCtx& ctx);

// Directory upload transaction.
CmdNext HandleDirUpReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleRsFileUpReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleRsDataUpReq(CSess& sess, CXferCtx& ctx);

// Model and version query.
CmdNext HandleModelVerReq(CSess& sess, CXferCtx& ctx);
