// FC_DIR_REQ: a folder's listing, built in memory and fetched with FC_DATA_REQ.
#include "fs/listing.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>
#include <new>

#include "fs/pathreq.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/xferctx.h"
#include "platform/dir.h"
#include "platform/log.h"

namespace {

// One folder's records packed back to back as they go out, and where each begins.
struct CPackedRecords {
    std::vector<uint8_t> bytes;
    std::vector<uint64_t> starts;

    std::string_view Name(uint64_t ullStart) const
    {
        const char* psz = reinterpret_cast<const char*>(bytes.data() + ullStart + 1);
        return std::string_view(psz, strlen(psz));
    }
};

// "." and ".." come first, then every other name in the enumeration order.
int DotRank(std::string_view name) { return name == "." ? 0 : name == ".." ? 1 : 2; }

}  // namespace

uint64_t BuildDirList(const plat::CShare& share, uint8_t* pBuffer, uint64_t ullCapacity, const std::string& strFolder)
{
    uint64_t ullCount = 0, ullNameBytes = 0;
    if (pBuffer == nullptr) {
        if (plat::MeasureDirectory(share, strFolder, ullCount, ullNameBytes) != 0)
            return 0;
        return ullNameBytes + 2 * ullCount;
    }
    // The records are packed once (the capacity the measuring pass found is reserved,
    // so a large folder is held about twice while its listing is built, not once per
    // name), sorted by where they begin, and copied out in order.
    CPackedRecords packed;
    packed.bytes.reserve(ullCapacity);
    uint64_t ullTotal = 0;
    const int rc = plat::ReadDirectory(share, strFolder, false, [&](plat::FindEntry& e) {
        const uint64_t ullRecord = e.strName.size() + 2;
        ullTotal += ullRecord;  // counted whether or not it fits
        if (packed.bytes.size() + ullRecord > ullCapacity)
            return;  // the folder grew since it was measured: the size tells
        packed.starts.push_back(packed.bytes.size());
        packed.bytes.push_back(e.bDir ? 1 : 0);
        packed.bytes.insert(packed.bytes.end(), e.strName.begin(), e.strName.end());
        packed.bytes.push_back(0);
    });
    if (rc != 0)
        return 0;
    std::sort(packed.starts.begin(), packed.starts.end(), [&](uint64_t a, uint64_t b) {
        const std::string_view na = packed.Name(a), nb = packed.Name(b);
        const int ra = DotRank(na), rb = DotRank(nb);
        if (ra != rb || ra < 2)
            return ra < rb;
        return plat::FoldedNameLess(na, nb);
    });
    uint8_t* p = pBuffer;
    for (uint64_t ullStart : packed.starts) {
        const uint64_t ullRecord = packed.Name(ullStart).size() + 2;
        memcpy(p, packed.bytes.data() + ullStart, ullRecord);
        p += ullRecord;
    }
    return ullTotal;
}

CmdNext HandleDirReq(CSess& sess, CXferCtx& ctx)
{
    plat::Trace("FC_DIR_REQ(%lx)\n", sess.Id());
    PathReq eReq = TakePathRequest(sess, ctx, "FC_DIR_REQ", ctx.strPath);
    if (eReq == PathReq::Invalid) {
        ctx.RecordSize(SizeWidth::Bits32, 0);
        SendStatusU32(sess, FC_DIR_REP, kStatusInvalid, 0);
        return CmdNext::Continue;
    }
    if (ctx.pBin) {
        plat::Trace("E %s %d\n", "ip", 945);
        ctx.ReleaseBin();
    }
    ctx.RecordSize(SizeWidth::Bits32, 0);
    uint8_t ucStatus = kStatusFailed;
    const uint64_t ullSize = eReq == PathReq::Ok ? BuildDirList(ctx.share, nullptr, 0, ctx.strPath) : 0;
    if (ullSize > UINT32_MAX) {
        ucStatus = kStatusNoMemory;  // a listing the 32-bit size field cannot carry
    } else if (ullSize != 0) {
        if (!ctx.TakeBin(ullSize, false)) {
            ucStatus = kStatusNoMemory;
        } else if (BuildDirList(ctx.share, ctx.pBin.get(), ullSize, ctx.strPath) != ullSize) {
            ctx.ReleaseBin();
            ucStatus = kStatusShort;  // the folder changed between the two passes
        } else {
            ctx.nXferSize = static_cast<uint32_t>(ullSize);
            ucStatus = kStatusDone;
        }
    }
    SendStatusU32(sess, FC_DIR_REP, ucStatus, ctx.nXferSize);
    return CmdNext::Continue;
}
