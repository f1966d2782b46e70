// FC_DIR_UP_REQ and its sub-loop: RS_FILE_UP_REQ and RS_DATA_UP_REQ.
#include <string>

#include "fs/path.h"
#include "net/handlers.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/wire.h"
#include "net/xferctx.h"
#include "platform/file.h"
#include "platform/log.h"
#include "xfer/upload.h"

namespace {

constexpr uint8_t kFolderType = 0x44;  // 'D'
constexpr uint8_t kStatusNoFolder = 1;
constexpr uint8_t kStatusNoFile = 2;

}  // namespace

CmdNext HandleDirUpReq(CSess& sess, CXferCtx& ctx)
{
    plat::Trace("FC_DIR_UP_REQ(%lx)\n", sess.Id());
    const CPacket& packet = sess.m_Packet;
    const int n = packet.PayloadLength();
    const uint8_t* p = packet.m_Buf + kPayloadOffset;
    if (n < 15 || p[n - 1] != 0) {
        plat::Trace("invalid param in FC_DIR_UP_REQ\n");
        return CmdNext::Continue;  // no reply, and the session stays in the main loop
    }
    const uint32_t ulCount = GetU32LE(p + 1);
    sess.m_ullTotal = GetU64LE(p + 5);
    // Every entry's path is the receiving folder followed directly by its name; the
    // folder is kept as the STB sent it so that each joined path is checked whole.
    ctx.strUpDir = reinterpret_cast<const char*>(p + 13);
    std::string strStb = ctx.strUpDir;
    const bool bMapped = MapStbPath(sess, strStb.data(), ctx.strPath, ctx.share) == 0;
    plat::Trace("(%x) %u %llu %s\n", p[0], ulCount, static_cast<unsigned long long>(sess.m_ullTotal),
                bMapped ? ctx.strPath.c_str() : "(refused)");
    // A receiving folder reached through a link out of the shared folder is refused.
    const bool bAccepted = bMapped && !ctx.bReadOnly && !plat::LeadsOutOfShare(ctx.share, ctx.strPath + "/.") &&
                           HasFreeSpace(ctx.share, sess.m_ullTotal);
    const uint8_t ucStatus = bAccepted ? kStatusDone : kStatusInvalid;
    SendFrame(sess, 0xE4, &ucStatus, 1);
    return CmdNext::EnterDirUp;
}

CmdNext HandleRsFileUpReq(CSess& sess, CXferCtx& ctx)
{
    plat::Trace("RS_FILE_UP_REQ(%lx)\n", sess.Id());
    const CPacket& packet = sess.m_Packet;
    const int n = packet.PayloadLength();
    const uint8_t* p = packet.m_Buf + kPayloadOffset;
    if (n < 7 || p[n - 1] != 0) {
        plat::Trace("invalid param in RS_FILE_UP_REQ\n");
        return CmdNext::Continue;
    }
    const uint8_t ucType = p[0];
    ctx.nXferSize = GetU32LE(p + 1);
    ctx.eRecordedWidth = SizeWidth::Bits32;
    std::string strStb = ctx.strUpDir + reinterpret_cast<const char*>(p + 5);
    const bool bMapped = MapStbPath(sess, strStb.data(), ctx.strPath2, ctx.share) == 0;
    plat::Trace("(%x) %u %s\n", ucType, ctx.nXferSize, bMapped ? ctx.strPath2.c_str() : "(refused)");
    uint8_t ucStatus = kStatusDone;
    if (ucType == kFolderType && ctx.nXferSize == 0) {
        plat::PathInfo info;
        if (!bMapped || ctx.bReadOnly) {
            ucStatus = kStatusNoFolder;
        } else if (plat::GetPathInfo(ctx.share, ctx.strPath2, info) != 0 &&
                   plat::MakeDirectory(ctx.share, ctx.strPath2) != 0) {
            plat::Trace("E %s %d\n", "ip", 1638);
            ucStatus = kStatusNoFolder;
        }
    } else {
        if (ctx.hFile.IsOpen()) {
            plat::Trace("E %s %d\n", "ip", 1649);
            ctx.CloseFile();
        }
        if (!bMapped || BeginUpload(ctx, ctx.strPath2, ctx.nXferSize, 1669, 1677) != 0) {
            plat::Trace("E %s %d\n", "ip", 1655);
            ucStatus = kStatusNoFile;
            ctx.nXferSize = 0;
        }
    }
    uint8_t payload[5] = {ucStatus};
    PutU32LE(payload + 1, ctx.nXferSize);
    SendReply(sess, 0x40, payload, 5);
    return CmdNext::Continue;
}

CmdNext HandleRsDataUpReq(CSess& sess, CXferCtx& ctx)
{
    plat::Trace("RS_DATA_UP_REQ(%lx)\n", sess.Id());
    const CPacket& packet = sess.m_Packet;
    const int n = packet.PayloadLength();
    CBlock block{0, packet.m_Buf + kPayloadOffset + 4, 0, 0, 4, 0x50, 1758};
    if (n < 4) {
        plat::Trace("invalid param in RS_DATA_UP_REQ\n");
    } else {
        block.ullOffset = GetU32LE(packet.m_Buf + kPayloadOffset);
        block.ullCount = static_cast<uint64_t>(n - 4);
    }
    plat::Trace("%u %u %u\n", static_cast<uint32_t>(block.ullOffset), static_cast<uint32_t>(block.ullCount),
                ctx.nXferSize);
    block.ullLimit = ctx.bUploading ? ctx.ullUpSize : ctx.nXferSize;
    TakeBlock(sess, ctx, block);
    return CmdNext::Continue;
}
