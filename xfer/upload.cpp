#include "xfer/upload.h"

#include <algorithm>
#include <new>

#include "fs/ownpath.h"
#include "fs/path.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/transferstatus.h"
#include "net/wire.h"
#include "net/xferctx.h"
#include "platform/log.h"
#include "xfer/upseal.h"

int BeginUpload(CXferCtx& ctx, const std::string& strPath, uint64_t ullSize, int nReleaseLine, int nBufferedLine)
{
    // The previous upload loses its place now; removing its file before the new one is
    // created keeps a new upload of the same name intact.
    if (ctx.bUploading)
        ctx.AbandonUpload();
    // Nothing is created for a file the volume could not hold, nor in a read-only share.
    if (ctx.bReadOnly || !HasFreeSpace(ctx.share, ullSize) ||
        ctx.hFile.Open(ctx.share, strPath, plat::OpenMode::UploadTarget) != 0) {
        ctx.ReleaseBin();
        return -1;
    }
    ctx.strUpPath = strPath;
    ctx.upShare = ctx.share;
    ctx.ullUpSize = ullSize;
    // Journaled while still empty: a crash from here on leaves nothing that looks whole.
    if (ullSize > 0)
        JournalUpload(ctx, ctx.hFile);
    // The announced size is reserved on the volume, not only promised by a sparse file.
    if (ctx.hFile.Reserve(ullSize) != 0) {
        // The volume cannot hold the announced size: leave nothing behind.
        DiscardUpload(ctx, ctx.hFile);
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
    ctx.bUploading = true;
    ctx.bUpBuffered = false;
    ctx.upCover.Reset(ullSize);
    ctx.upWriteBack.Reset();
    if (ullSize > kMaxBufferedUpload) {
        ctx.ReleaseBin();
        return 0;
    }
    if (ctx.pBin) {
        plat::Trace("E %s %d\n", "ip", nReleaseLine);
        ctx.ReleaseBin();
    }
    // Zeroed: a byte that no block covers is written out as 0, never as whatever the
    // memory held before.
    if (ctx.TakeBin(ullSize, true)) {
        ctx.bUpBuffered = true;
        if (nBufferedLine != 0)
            plat::Trace("E %s %d\n", "ip", nBufferedLine);
        // The transfer file is free again; the upload keeps its target open and locked.
        ctx.hUpFile.TakeFrom(ctx.hFile);
    }
    return 0;
}

// Stores a block of the pending upload, unless the coverage cannot record it (then the
// STB may send it again later). False when it was not stored.
static bool StoreBlock(CXferCtx& ctx, uint64_t o, const uint8_t* pBytes, uint64_t t)
{
    if (!ctx.upCover.CanAdd(o, t))
        return false;
    if (ctx.bUpBuffered) {
        if (o > ctx.nBinSize || t > ctx.nBinSize - o)  // never past the buffer
            return false;
        std::copy_n(pBytes, t, ctx.pBin.get() + o);
    } else if (!ctx.hFile.IsOpen() || ctx.hFile.WriteAt(o, pBytes, t) != 0) {
        return false;
    }
    ctx.upCover.Add(o, t);
    if (!ctx.bUpBuffered)
        ctx.upWriteBack.Advance(ctx.hFile, ctx.upCover.Front());
    return true;
}

// Ends the pending upload once every byte of it has arrived. A buffered one is written
// out in one piece; either kind is then brought to the disk (see SealUpload), or deleted
// when it cannot be written out or flushed.
static int CompleteUpload(CXferCtx& ctx, int nDirectEndLine)
{
    const bool bBuffered = ctx.bUpBuffered;
    plat::CPlatFile& held = bBuffered ? ctx.hUpFile : ctx.hFile;
    bool bOk = held.IsOpen();
    if (bBuffered) {
        // The collected data goes out in one write through the file held since the start.
        bOk = bOk && held.WriteAt(0, ctx.pBin.get(), ctx.nBinSize) == 0;
    } else if (nDirectEndLine != 0) {
        plat::Trace("E %s %d\n", "ip", nDirectEndLine);
    }
    ctx.bUploading = false;
    ctx.bUpBuffered = false;
    if (bBuffered)
        ctx.ReleaseBin();
    if (bOk) {
        // What is left of a large file is handed to the disk now; the small files of a
        // directory upload are written back together when their batch is flushed.
        if (!bBuffered)
            ctx.upWriteBack.Finish(held, ctx.ullUpSize);
        bOk = SealUpload(ctx, held) == 0;
    }
    // A file that cannot be made whole on the disk is removed while it is still held.
    if (!bOk)
        DiscardUpload(ctx, held);
    held.Close();
    return bOk ? 0 : -1;
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
    if (t > 0 && ctx.bUploading && !StoreBlock(ctx, o, block.pBytes, t))
        t = 0;
    const bool bWasUploading = ctx.bUploading;
    if (t > 0 && ctx.bUploading)
        sess.m_Activity.Moved(ctx.upCover.Front(), t);
    // The block that completes the upload is answered only once the file is whole on the
    // disk: one that cannot be written out or flushed is answered as not taken.
    if (t > 0 && ctx.bUploading && ctx.upCover.Complete() &&
        (CompleteUpload(ctx, block.nDirectEndLine) != 0 || (ctx.bDirUp && SettleDirUp(ctx) != 0)))
        t = 0;
    ShowUploadEnd(sess, bWasUploading && !ctx.bUploading, t > 0 || block.ullCount == 0);

    // The reply is built over the request: the block was stored above, before this.
    uint8_t* pPayload = sess.m_Packet.Payload();
    const int nWidth = WidthBytes(block.width);
    PutLE(pPayload, o, nWidth);
    PutLE(pPayload + nWidth, t, nWidth);
    SendFrame(sess, block.ucReply, nullptr, 2 * nWidth);
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
    uint8_t* p = sess.m_Packet.Payload();
    if (!packet.EndsWithZero(3 + nWidth)) {
        plat::Trace("invalid param in FC_FILE_UP_REQ\n");
        SendStatus(sess, ucReply, kStatusInvalid);
        return CmdNext::Continue;
    }
    const uint64_t ullSize = PayloadField(packet, 1, nWidth);
    ctx.RecordSize(width, ullSize);
    const int nMapped = MapStbPathFor(sess, ctx, reinterpret_cast<char*>(p + 1 + nWidth), ctx.strPath, OwnUse::Open);
    if (ctx.hFile.IsOpen()) {
        plat::Trace("E %s %d\n", "ip", bBig ? 2134 : 1889);
        ctx.CloseFile();
    }
    uint8_t ucStatus = kStatusFailed;
    if (nMapped == 0 && BeginUpload(ctx, ctx.strPath, ullSize, bBig ? 2153 : 1908) == 0) {
        ucStatus = kStatusDone;
        BeginTransfer(sess, ctx, StbActivity::Uploading, ctx.strPath, ullSize);
        if (!ctx.bUploading)
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
    const int n = packet.PayloadLength();
    CBlock block{0, packet.Payload() + nWidth, 0, 0, width, ucReply};
    if (n < nWidth) {
        plat::Trace("invalid param in %s\n", pszName);
    } else {
        block.ullOffset = PayloadField(packet, 0, nWidth);
        block.ullCount = static_cast<uint64_t>(n - nWidth);
    }
    return block;
}

// The data requests of 32-bit offsets (FC_DATA_UP_REQ) and 64-bit offsets
// (FC_BIGFILE_DATA_UP_REQ), both named FC_DATA_UP_REQ in the invalid-request line.
static void HandleUpData(CSess& sess, CXferCtx& ctx, SizeWidth width, uint8_t ucReply)
{
    CBlock block = RequestBlock(sess.m_Packet, width, ucReply, "FC_DATA_UP_REQ");
    // While an upload is pending, blocks of either width clamp against its announced
    // size; afterwards they are answered as the size fields say, storing nothing.
    block.ullLimit = ctx.bUploading ? ctx.ullUpSize : ctx.DataLimit(width);
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
