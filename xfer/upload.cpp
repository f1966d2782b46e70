#include "xfer/upload.h"

#include "fs/ownpath.h"
#include "fs/path.h"
#include "net/payload.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/transferstatus.h"
#include "net/xferctx.h"
#include "platform/log.h"
#include "xfer/upseal.h"

int BeginUpload(CXferCtx& ctx, const std::string& strPath, uint64_t ullSize, ErrLine eHeldBuffer)
{
    // The previous upload loses its place now; removing its file before the new one is
    // created keeps a new upload of the same name intact.
    if (ctx.upload.bUploading)
        ctx.upload.Abandon(ctx.hFile);
    // Nothing is created for a file the volume could not hold, nor in a read-only share.
    if (ctx.options.bReadOnly || !HasFreeSpace(ctx.share, ullSize) ||
        ctx.hFile.Open(ctx.share, strPath, plat::OpenMode::UploadTarget) != 0) {
        ctx.ReleaseBin();
        return -1;
    }
    ctx.upload.Begin(ctx.share, strPath, ullSize, ctx.hFile, ctx.DirUpBatch());
    // The announced size is reserved on the volume, not only promised by a sparse file.
    if (ctx.hFile.Reserve(ullSize) != 0) {
        // The volume cannot hold the announced size: leave nothing behind.
        ctx.upload.Abandon(ctx.hFile);
        ctx.ReleaseBin();
        return -1;
    }
    if (ullSize == 0) {
        // An empty file is complete as soon as it exists: nothing can be missing from
        // it, so no later command abandons it.
        ctx.hFile.Close();
        ctx.ReleaseBin();
        return 0;
    }
    if (ullSize > kMaxBufferedUpload) {
        ctx.ReleaseBin();
        return 0;
    }
    if (ctx.pBin) {
        TraceErrLine(eHeldBuffer);
        ctx.ReleaseBin();
    }
    // Zeroed: a byte that no block covers is written out as 0, never as whatever the
    // memory held before. The transfer file is free again; the upload keeps its target
    // open and locked.
    if (ctx.TakeBin(ullSize, true))
        ctx.upload.Collect(ctx.hFile);
    return 0;
}

// Ends the pending upload once every byte of it has arrived (CPendingUpload::Finish), and
// frees the buffer it was collected in.
static int CompleteUpload(CXferCtx& ctx)
{
    const bool bBuffered = ctx.upload.bBuffered;
    const int rc = ctx.upload.Finish(ctx.Bin(), ctx.hFile, ctx.DirUpBatch());
    if (bBuffered)
        ctx.ReleaseBin();
    return rc;
}

// Tells the status how far the upload has come: a single upload ends with its file, a
// directory upload once every byte it announced has arrived.
static void ShowUploadEnd(CSess& sess, bool bFileEnded, bool bStored)
{
    const CActivityView view = sess.m_Activity.Read();
    if (view.eActivity == StbActivity::Uploading && bFileEnded)
        EndTransfer(sess, bStored);
    else if (view.eActivity == StbActivity::DirUpload && view.ullDone >= view.ullTotal)
        EndTransfer(sess, true);
}

void TakeBlock(CSess& sess, CXferCtx& ctx, const CBlock& block)
{
    const uint64_t o = block.ullOffset;
    uint64_t t = ClampCount(o, block.ullCount, block.ullLimit);
    CPendingUpload& upload = ctx.upload;
    if (t > 0 && upload.bUploading && !upload.Take(o, block.pBytes, t, ctx.Bin(), ctx.hFile))
        t = 0;
    const bool bWasUploading = upload.bUploading;
    if (t > 0 && upload.bUploading)
        sess.m_Activity.Moved(upload.cover.Front(), t);
    // The block that completes the upload is answered only once the file is whole on the
    // disk: one that cannot be written out or flushed is answered as not taken.
    if (t > 0 && upload.bUploading && upload.Complete() &&
        (CompleteUpload(ctx) != 0 || (ctx.bDirUp && SettleDirUp(ctx) != 0)))
        t = 0;
    ShowUploadEnd(sess, bWasUploading && !upload.bUploading, t > 0 || block.ullCount == 0);

    // The reply is built over the request: the block was stored above, before this.
    CPayloadWriter reply(sess.m_Packet);
    const int nWidth = WidthBytes(block.width);
    reply.LE(o, nWidth);
    reply.LE(t, nWidth);
    SendFrame(sess, block.ucReply, reply);
}

// The open requests of a 32-bit size (FC_FILE_UP_REQ) and a 64-bit size
// (FC_BIGFILE_UP_REQ).
static CmdNext HandleUpOpen(CSess& sess, CXferCtx& ctx, bool bBig)
{
    const CPacket& packet = sess.m_Packet;
    const uint8_t ucRequest = packet.Command();
    const uint8_t ucReply =
        (ucRequest == FC_FILE_UP_REQ || ucRequest == FC_BIGFILE_UP_REQ_ALT) ? FC_FILE_UP_REP : FC_FILE_UP_REP_ALT;
    plat::Trace(bBig ? "FC_BIGFILE_UP_REQ(%lx)\n" : "FC_FILE_UP_REQ(%lx)\n", sess.Id());
    const SizeWidth width = bBig ? SizeWidth::Bits64 : SizeWidth::Bits32;
    const int nWidth = WidthBytes(width);
    if (!packet.EndsWithZero(3 + nWidth)) {
        plat::Trace("invalid param in FC_FILE_UP_REQ\n");
        SendStatus(sess, ucReply, kStatusInvalid);
        return CmdNext::Continue;
    }
    // A tag byte, the size in the width, the path.
    CPayloadReader request(packet);
    request.U8();
    const uint64_t ullSize = request.LE(nWidth);
    std::string strStbPath = request.Path();
    ctx.RecordSize(width, ullSize);
    const int nMapped = MapStbPathFor(sess, ctx, strStbPath.data(), ctx.strPath, OwnUse::Open);
    if (ctx.hFile.IsOpen()) {
        TraceErrLine(bBig ? ErrLine::BigFileUpHeldFile : ErrLine::FileUpHeldFile);
        ctx.CloseFile();
    }
    uint8_t ucStatus = kStatusFailed;
    if (nMapped == 0 &&
        BeginUpload(ctx, ctx.strPath, ullSize, bBig ? ErrLine::BigFileUpHeldBuffer : ErrLine::FileUpHeldBuffer) == 0) {
        ucStatus = kStatusDone;
        BeginTransfer(sess, ctx, StbActivity::Uploading, ctx.strPath, ullSize);
        if (!ctx.upload.bUploading)
            EndTransfer(sess, true);  // an empty file is whole once it exists
    }
    else if (nMapped != 0)
        ctx.ReleaseBin();
    SendStatus(sess, ucReply, ucStatus);
    return CmdNext::Continue;
}

CmdNext HandleFileUpReq(CSess& sess, CXferCtx& ctx) { return HandleUpOpen(sess, ctx, false); }

CmdNext HandleBigFileUpReq(CSess& sess, CXferCtx& ctx) { return HandleUpOpen(sess, ctx, true); }

CBlock RequestBlock(const CPacket& packet, SizeWidth width, uint8_t ucReply, const char* pszName)
{
    const int nWidth = WidthBytes(width);
    CBlock block{0, nullptr, 0, 0, width, ucReply};
    CPayloadReader request(packet);
    if (request.Left() < static_cast<size_t>(nWidth)) {
        plat::Trace("invalid param in %s\n", pszName);
        return block;
    }
    block.ullOffset = request.LE(nWidth);
    const CPayloadBytes data = request.Rest();
    block.pBytes = data.pBytes;
    block.ullCount = data.nCount;
    return block;
}

// The data requests of 32-bit offsets (FC_DATA_UP_REQ) and 64-bit offsets
// (FC_BIGFILE_DATA_UP_REQ), both named FC_DATA_UP_REQ in the invalid-request line.
static void HandleUpData(CSess& sess, CXferCtx& ctx, SizeWidth width, uint8_t ucReply)
{
    CBlock block = RequestBlock(sess.m_Packet, width, ucReply, "FC_DATA_UP_REQ");
    // While an upload is pending, blocks of either width clamp against its announced
    // size; afterwards they are answered as the size fields say, storing nothing.
    block.ullLimit = ctx.upload.bUploading ? ctx.upload.ullSize : ctx.DataLimit(width);
    TakeBlock(sess, ctx, block);
}

CmdNext HandleDataUpReq(CSess& sess, CXferCtx& ctx)
{
    HandleUpData(sess, ctx, SizeWidth::Bits32, ReplyByte(sess.m_Packet.Command()));
    return CmdNext::Continue;
}

CmdNext HandleBigDataUpReq(CSess& sess, CXferCtx& ctx)
{
    HandleUpData(sess, ctx, SizeWidth::Bits64, FC_DATA_UP_REP);
    return CmdNext::Continue;
}
