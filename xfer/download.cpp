#include "xfer/download.h"

#include <algorithm>
#include <new>

#include "fs/pathreq.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/transferstatus.h"
#include "net/wire.h"
#include "net/xferctx.h"
#include "xfer/pacing.h"
#include "platform/log.h"
#include "platform/thread.h"

namespace {

// The reply of the open request in the long form (64-bit size); the short form answers
// with ReplyByte.
uint8_t LongFormReply(uint8_t ucRequest)
{
    return ucRequest == FC_FILE_DN_REQ ? FC_FILE_DN_REP_LONG : FC_FILE_DN_REP_ALT_LONG;
}

void SizeLog(const CRangeReq& req, uint64_t ullSize, const CXferCtx& ctx)
{
    unsigned long ulBin = static_cast<unsigned long>(reinterpret_cast<uintptr_t>(ctx.pBin.get()));
    if (req.nWidth == 4)
        plat::Trace("SIZE %u pBin=%lx hFile=%lx\n", static_cast<uint32_t>(ullSize), ulBin, ctx.hFile.Id());
    else
        plat::Trace("SIZE %llu pBin=%lx hFile=%lx\n", static_cast<unsigned long long>(ullSize), ulBin,
                    ctx.hFile.Id());
}

// A file or listing fetched up to its end is done; a directory download goes on.
void EndWhenWhole(CSess& sess, uint64_t ullEnd)
{
    const StbActivity e = sess.m_Activity.Activity();
    if ((e == StbActivity::Downloading || e == StbActivity::Listing) && ullEnd >= sess.m_Activity.Read().ullTotal)
        EndTransfer(sess, true);
}

}  // namespace

void SendRange(CSess& sess, CXferCtx& ctx, const CRangeReq& req)
{
    CPacket& packet = sess.m_Packet;
    uint64_t ullLimit = req.ullLimit;
    if (ctx.pBin)
        ullLimit = std::min<uint64_t>(ullLimit, ctx.nBinSize);  // never past the buffer's end
    const uint64_t o = req.ullOffset;
    const uint64_t s = ClampCount(o, req.ullSize, ullLimit);

    uint8_t* pPayload = packet.Payload();
    if (s == 0 || (!ctx.pBin && !ctx.hFile.IsOpen())) {
        PutLE(pPayload, o, req.nWidth);
        BuildReply(packet, req.ucReply, nullptr, req.nWidth);
        Send(packet, sess);
        SizeLog(req, s, ctx);
        EndWhenWhole(sess, o);
        return;
    }

    // Each frame is built in place: the data goes straight behind the offset field.
    uint8_t* pData = pPayload + req.nWidth;
    uint64_t c = o;
    const uint64_t ullEnd = o + s;
    const uint64_t ullPause = BlockPauseNs();
    uint64_t ullPauseEnd = 0;  // the next frame may not leave before this moment
    while (c < ullEnd) {
        const size_t nChunk = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(req.nBlock), ullEnd - c));
        PutLE(pPayload, c, req.nWidth);
        if (ctx.pBin) {
            std::copy_n(ctx.pBin.get() + c, nChunk, pData);
        } else if (ctx.hFile.ReadAt(c, pData, nChunk) != static_cast<int64_t>(nChunk)) {
            // The file failed or was cut short under us: the protocol has no frame for
            // that, so the stream ends and the STB sees a short range.
            plat::Trace("read error at %llu\n", static_cast<unsigned long long>(c));
            EndTransfer(sess, false);
            return;
        }
        BuildReply(packet, req.ucReply, nullptr, req.nWidth + static_cast<int>(nChunk));
        // The protocol's pacing: 1 ms passes between a full block leaving and the next
        // frame leaving. The next frame is read and built within that pause, not after it.
        if (ullPauseEnd != 0)
            plat::SleepUntilNs(ullPauseEnd);
        if (Send(packet, sess) != 0)
            return;  // the STB is gone; the next receive ends the session
        c += nChunk;
        sess.m_Activity.Moved(c, nChunk);
        if (nChunk == static_cast<size_t>(req.nBlock) && ullPause != 0)
            ullPauseEnd = plat::MonotonicNs() + ullPause;
    }
    EndWhenWhole(sess, ullEnd);
}

DnForm OpenDownload(CXferCtx& ctx, const std::string& strPath, uint8_t& ucStatus, int nShortReadLine)
{
    ucStatus = kStatusFailed;
    if (ctx.hFile.Open(ctx.share, strPath, plat::OpenMode::Download) != 0)
        return DnForm::Failed;
    ucStatus = kStatusDone;
    const int64_t llLength = ctx.hFile.Length();
    const uint64_t ullLength = llLength > 0 ? static_cast<uint64_t>(llLength) : 0;
    const SizeWidth width = FileSizeWidth(ullLength);
    ctx.RecordSize(width, ullLength);
    if (width == SizeWidth::Bits64)
        return DnForm::Long;
    if (ullLength > kMaxBufferedFile)
        return DnForm::Short;
    if (!ctx.TakeBin(ullLength, false))
        return DnForm::Short;  // without the memory the file is served from disk
    // Small files are read once and then served from memory.
    if (ctx.hFile.ReadAt(0, ctx.pBin.get(), ullLength) != static_cast<int64_t>(ullLength)) {
        if (nShortReadLine != 0)
            plat::Trace("E %s %d\n", "ip", nShortReadLine);
        ucStatus = kStatusShort;
        ctx.ReleaseBin();
    }
    ctx.CloseFile();
    return DnForm::Short;
}

CmdNext HandleFileDnReq(CSess& sess, CXferCtx& ctx)
{
    const uint8_t ucRequest = sess.m_Packet.Command();
    const uint8_t ucShort = ReplyByte(ucRequest);
    if (ucRequest == FC_FILE_DN_REQ)
        plat::Trace("FC_FILE_DN_REQ(%lx)\n", sess.Id());
    const PathReq eReq = TakeTransferPathRequest(sess, ctx, "FC_FILE_DN_REQ", ucShort, 1041, 1049);
    if (eReq == PathReq::Invalid)
        return CmdNext::Continue;
    uint8_t ucStatus = kStatusFailed;
    DnForm eForm = eReq == PathReq::Refused ? DnForm::Failed : OpenDownload(ctx, ctx.strPath, ucStatus, 0);
    if (eForm != DnForm::Failed)
        BeginTransfer(sess, ctx, StbActivity::Downloading, ctx.strPath,
                      eForm == DnForm::Long ? ctx.ullXferSize : ctx.nXferSize);
    if (eForm == DnForm::Long)
        SendStatusSize(sess, LongFormReply(ucRequest), kStatusDone, SizeWidth::Bits64, ctx.ullXferSize);
    else
        SendStatusU32(sess, ucShort, ucStatus, ctx.nXferSize);
    return CmdNext::Continue;
}

void ServeDataRequest(CSess& sess, CXferCtx& ctx, SizeWidth width, int nBlock, uint8_t ucReply, const char* pszName)
{
    const int nWidth = WidthBytes(width);
    const CPacket& packet = sess.m_Packet;
    if (packet.PayloadLength() != 2 * nWidth)
        plat::Trace("invalid param in %s\n", pszName);  // served all the same
    CRangeReq req{PayloadField(packet, 0, nWidth), PayloadField(packet, nWidth, nWidth), ctx.DataLimit(width),
                  nBlock, nWidth, ucReply};
    SendRange(sess, ctx, req);
}

CmdNext HandleDataReq(CSess& sess, CXferCtx& ctx)
{
    const uint8_t ucRequest = sess.m_Packet.Command();
    ServeDataRequest(sess, ctx, SizeWidth::Bits32, ucRequest == FC_DATA_REQ_LARGE ? kLargeBlock : kSmallBlock,
                     ReplyByte(ucRequest), "FC_DATA_REQ");
    return CmdNext::Continue;
}

CmdNext HandleBigDataReq(CSess& sess, CXferCtx& ctx)
{
    const uint8_t ucRequest = sess.m_Packet.Command();
    ServeDataRequest(sess, ctx, SizeWidth::Bits64, ucRequest == FC_BIGFILE_DATA_REQ_LARGE ? kLargeBlock : kSmallBlock,
                     ReplyByte(ucRequest), "FC_BIGFILE_DATA_REQ");
    return CmdNext::Continue;
}
