// FC_DIR_REQ: a folder's listing, built in memory and fetched with FC_DATA_REQ.
#include "fs/listing.h"

#include <cstring>
#include <new>

#include "fs/pathreq.h"
#include "net/handlers.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/xferctx.h"
#include "platform/dir.h"
#include "platform/log.h"

// Writes the records that fit; returns the size counted over every entry.
static uint64_t WriteRecords(const std::vector<plat::FindEntry>& entries, uint8_t* pBuffer, uint64_t ullCapacity)
{
    uint64_t ullTotal = 0;
    for (const plat::FindEntry& e : entries) {
        const uint64_t ullRecord = e.strName.size() + 2;
        if (pBuffer != nullptr && ullTotal + ullRecord <= ullCapacity) {
            uint8_t* p = pBuffer + ullTotal;
            p[0] = e.bDir ? 1 : 0;
            memcpy(p + 1, e.strName.data(), e.strName.size());
            p[1 + e.strName.size()] = 0;
        }
        ullTotal += ullRecord;  // counted whether or not it fitted
    }
    return ullTotal;
}

uint64_t BuildDirList(uint8_t* pBuffer, uint64_t ullCapacity, const std::string& strFolder, CDirSnapshot* pSnapshot)
{
    if (pBuffer != nullptr && pSnapshot != nullptr) {
        uint64_t ullCount = 0, ullNameBytes = 0;
        if (plat::MeasureDirectory(strFolder, ullCount, ullNameBytes) != 0)
            return 0;
        const uint64_t ullNow = ullNameBytes + 2 * ullCount;
        if (ullNow != pSnapshot->ullSize)
            return ullNow;  // the folder changed since it was measured
        return WriteRecords(pSnapshot->entries, pBuffer, ullCapacity);
    }
    std::vector<plat::FindEntry> entries;
    if (plat::EnumDirectory(strFolder, entries, false) != 0)
        return 0;
    const uint64_t ullTotal = WriteRecords(entries, pBuffer, ullCapacity);
    if (pSnapshot != nullptr) {
        pSnapshot->entries = std::move(entries);
        pSnapshot->ullSize = ullTotal;
    }
    return ullTotal;
}

CmdNext HandleDirReq(CSess& sess, CXferCtx& ctx)
{
    constexpr uint8_t kReply = 0xF7;
    plat::Trace("FC_DIR_REQ(%lx)\n", sess.Id());
    PathReq eReq = TakePathRequest(sess, "FC_DIR_REQ", ctx.strPath);
    if (eReq == PathReq::Invalid) {
        ctx.nXferSize = 0;
        ctx.eRecordedWidth = SizeWidth::Bits32;
        SendStatusU32(sess, kReply, kStatusInvalid, 0);
        return CmdNext::Continue;
    }
    if (ctx.pBin) {
        plat::Trace("E %s %d\n", "ip", 945);
        ctx.ReleaseBin();
    }
    ctx.nXferSize = 0;
    ctx.eRecordedWidth = SizeWidth::Bits32;
    uint8_t ucStatus = kStatusFailed;
    CDirSnapshot snapshot;
    const uint64_t ullSize = eReq == PathReq::Ok ? BuildDirList(nullptr, 0, ctx.strPath, &snapshot) : 0;
    if (ullSize > UINT32_MAX) {
        ucStatus = kStatusNoMemory;  // a listing the 32-bit size field cannot carry
    } else if (ullSize != 0) {
        uint8_t* pBlock = new (std::nothrow) uint8_t[ullSize];
        if (pBlock == nullptr) {
            ucStatus = kStatusNoMemory;
        } else if (BuildDirList(pBlock, ullSize, ctx.strPath, &snapshot) != ullSize) {
            delete[] pBlock;
            ucStatus = kStatusShort;  // the folder changed between the two passes
        } else {
            ctx.pBin.reset(pBlock);
            ctx.nBinSize = ullSize;
            ctx.nXferSize = static_cast<uint32_t>(ullSize);
            ucStatus = kStatusDone;
        }
    }
    SendStatusU32(sess, kReply, ucStatus, ctx.nXferSize);
    return CmdNext::Continue;
}
