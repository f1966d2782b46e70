#include "xfer/dirup.h"

#include <string>

#include "fs/ownpath.h"
#include "fs/path.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/transferstatus.h"
#include "net/wire.h"
#include "net/xferctx.h"
#include "platform/file.h"
#include "platform/log.h"
#include "xfer/upload.h"
#include "xfer/upseal.h"

namespace {

// Prints the request's line. Its payload when that holds at least nMinLength bytes and
// ends with 0; otherwise null, after the invalid-request line (such a request gets no
// reply).
const uint8_t* TakeRequest(const CSess& sess, const char* pszName, int nMinLength)
{
    plat::Trace("%s(%lx)\n", pszName, sess.Id());
    if (!sess.m_Packet.EndsWithZero(nMinLength)) {
        plat::Trace("invalid param in %s\n", pszName);
        return nullptr;
    }
    return sess.m_Packet.Payload();
}

}  // namespace

CmdNext HandleDirUpReq(CSess& sess, CXferCtx& ctx)
{
    const uint8_t* p = TakeRequest(sess, "FC_DIR_UP_REQ", 15);
    if (p == nullptr)
        return CmdNext::Continue;  // the session stays in the main loop
    const uint32_t ulCount = GetU32LE(p + 1);
    sess.m_ullTotal = GetU64LE(p + 5);
    BeginDirUpBatch(ctx, ulCount);
    // Every entry's path is the receiving folder followed directly by its name; the
    // folder is kept as the STB sent it so that each joined path is checked whole.
    ctx.strUpDir = reinterpret_cast<const char*>(p + 13);
    std::string strStb = ctx.strUpDir;
    const bool bMapped = MapStbPath(sess, ctx, strStb.data(), ctx.strPath) == 0;
    plat::Trace("(%x) %u %llu %s\n", p[0], ulCount, static_cast<unsigned long long>(sess.m_ullTotal),
                bMapped ? ctx.strPath.c_str() : "(refused)");
    // A receiving folder reached through a link out of the shared folder is refused.
    const bool bAccepted = bMapped && !ctx.bReadOnly && !plat::LeadsOutOfShare(ctx.share, ctx.strPath + "/.") &&
                           HasFreeSpace(ctx.share, sess.m_ullTotal);
    const uint8_t ucStatus = bAccepted ? kStatusDone : kStatusInvalid;
    if (bAccepted)
        BeginTransfer(sess, ctx, StbActivity::DirUpload, ctx.strPath, sess.m_ullTotal);
    SendFrame(sess, FC_DIR_UP_REP, &ucStatus, 1);
    return CmdNext::EnterDirUp;
}

CmdNext HandleRsFileUpReq(CSess& sess, CXferCtx& ctx)
{
    const uint8_t* p = TakeRequest(sess, "RS_FILE_UP_REQ", 7);
    if (p == nullptr)
        return CmdNext::Continue;
    const uint8_t ucType = p[0];
    CountDirUpEntry(ctx);
    ctx.RecordSize(SizeWidth::Bits32, GetU32LE(p + 1));
    std::string strStb = ctx.strUpDir + reinterpret_cast<const char*>(p + 5);
    const bool bMapped = MapStbPathFor(sess, ctx, strStb.data(), ctx.strPath2, OwnUse::Open) == 0;
    plat::Trace("(%x) %u %s\n", ucType, ctx.nXferSize, bMapped ? ctx.strPath2.c_str() : "(refused)");
    uint8_t ucStatus = kStatusDone;
    if (ucType == kEntryFolder && ctx.nXferSize == 0) {
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
    // An entry complete with its request (a folder, an empty or refused file) may be the
    // last: the entries before it reach the disk before its reply.
    if (!ctx.bUploading && SettleDirUp(ctx) != 0 && ucStatus == kStatusDone) {
        const bool bFolder = ucType == kEntryFolder && ctx.nXferSize == 0;
        ucStatus = bFolder ? kStatusNoFolder : kStatusNoFile;
        ctx.nXferSize = 0;
    }
    SendStatusU32(sess, RS_FILE_UP_REP, ucStatus, ctx.nXferSize);
    return CmdNext::Continue;
}

CmdNext HandleRsDataUpReq(CSess& sess, CXferCtx& ctx)
{
    plat::Trace("RS_DATA_UP_REQ(%lx)\n", sess.Id());
    CBlock block = RequestBlock(sess.m_Packet, SizeWidth::Bits32, RS_DATA_UP_REP, "RS_DATA_UP_REQ");
    block.nDirectEndLine = 1758;
    plat::Trace("%u %u %u\n", static_cast<uint32_t>(block.ullOffset), static_cast<uint32_t>(block.ullCount),
                ctx.nXferSize);
    block.ullLimit = ctx.bUploading ? ctx.ullUpSize : ctx.nXferSize;
    TakeBlock(sess, ctx, block);
    return CmdNext::Continue;
}
