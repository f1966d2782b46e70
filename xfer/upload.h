// File upload: an announced file is created at its full length at once, then filled by
// data requests. Up to 10 MiB it is collected in memory and written in one piece at the
// end; a larger one is written block by block.
#pragma once

#include <cstdint>
#include <string>

#include "net/cmdtable.h"
#include "net/errlines.h"
#include "net/protocol.h"
#include "xfer/pendingupload.h"

struct CPacket;

// FC_FILE_UP_REQ and FC_BIGFILE_UP_REQ: create the announced file (see BeginUpload).
CmdNext HandleFileUpReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleBigFileUpReq(CSess& sess, CXferCtx& ctx);
// FC_DATA_UP_REQ and FC_BIGFILE_DATA_UP_REQ: store one block (see TakeBlock).
CmdNext HandleDataUpReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleBigDataUpReq(CSess& sess, CXferCtx& ctx);

// Creates the upload target at the path, journals it, pre-sizes it to the announced
// size, and chooses buffered or direct (ctx.upload, xfer/pendingupload.h). A pending
// upload of this session is abandoned first (its file deleted). A buffer of an earlier
// transfer that is freed for a buffered upload is announced by the line eHeldBuffer of
// the request's place. 0, or -1 when the target cannot be created or sized (then no file
// is left and no buffer held).
int BeginUpload(CXferCtx& ctx, const std::string& strPath, uint64_t ullSize, ErrLine eHeldBuffer);

struct CBlock {
    uint64_t ullOffset;
    const uint8_t* pBytes;
    uint64_t ullCount;
    uint64_t ullLimit;  // the announced size to clamp against
    SizeWidth width;    // of the reply's offset and count fields
    uint8_t ucReply;
};

// The block of a data request: an offset of the width, then the data. A payload shorter
// than the offset prints "invalid param in <name>" and carries nothing at offset 0.
// ullLimit is left 0 for the caller.
CBlock RequestBlock(const CPacket& packet, SizeWidth width, uint8_t ucReply, const char* pszName);

// Stores one block of the pending upload, clamped to the announced end, and replies with
// its offset and the count taken (0 when it could not be stored). The upload is complete
// once every byte of its announced size has arrived, in whatever order: the block that
// completes it has a buffered one written out, the file brought to the disk and closed,
// all before the reply. An upload that never completes stays pending until it is
// abandoned, and so is never left looking complete. A block with no upload pending is
// answered but stores nothing.
void TakeBlock(CSess& sess, CXferCtx& ctx, const CBlock& block);
