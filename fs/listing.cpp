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
#include "net/transferstatus.h"
#include "net/xferctx.h"
#include "platform/dir.h"
#include "platform/log.h"

namespace {

// One folder's records packed back to back as they go out, and where each begins. When
// names are converted, each record is followed by the local name it sorts by.
struct CPackedRecords {
    std::vector<uint8_t> bytes;
    std::vector<uint64_t> starts;
    bool bKeyed = false;

    // The name as it goes out.
    std::string_view Name(uint64_t ullStart) const
    {
        const char* psz = reinterpret_cast<const char*>(bytes.data() + ullStart + 1);
        return std::string_view(psz, strlen(psz));
    }
    // The name the record sorts by.
    std::string_view Key(uint64_t ullStart) const
    {
        if (!bKeyed)
            return Name(ullStart);
        const char* psz = reinterpret_cast<const char*>(bytes.data() + ullStart + Name(ullStart).size() + 2);
        return std::string_view(psz, strlen(psz));
    }
    void Append(bool bDir, std::string_view name, std::string_view key)
    {
        starts.push_back(bytes.size());
        bytes.push_back(bDir ? 1 : 0);
        bytes.insert(bytes.end(), name.begin(), name.end());
        bytes.push_back(0);
        if (bKeyed) {
            bytes.insert(bytes.end(), key.begin(), key.end());
            bytes.push_back(0);
        }
    }
};

// The size of the listing as the STB is to see it: names it cannot be shown are left
// out, the others counted in its code page. 0 when the folder cannot be read.
uint64_t MeasureConverted(const plat::CShare& share, const std::string& strFolder, CStbNames& names)
{
    uint64_t ullTotal = 0;
    std::string strStb;
    const int rc = plat::ReadDirectory(share, strFolder, false, [&](plat::FindEntry& e) {
        if (names.ToStb(e.strName, strStb) == 0)
            ullTotal += strStb.size() + 2;
    });
    return rc == 0 ? ullTotal : 0;
}

// "." and ".." come first, then every other name in the enumeration order.
int DotRank(std::string_view name) { return name == "." ? 0 : name == ".." ? 1 : 2; }

}  // namespace

uint64_t BuildDirList(const plat::CShare& share, uint8_t* pBuffer, uint64_t ullCapacity, const std::string& strFolder,
                      CStbNames* pNames)
{
    const bool bConvert = pNames != nullptr && pNames->Converts();
    uint64_t ullCount = 0, ullNameBytes = 0;
    if (pBuffer == nullptr) {
        if (bConvert)
            return MeasureConverted(share, strFolder, *pNames);
        if (plat::MeasureDirectory(share, strFolder, ullCount, ullNameBytes) != 0)
            return 0;
        return ullNameBytes + 2 * ullCount;
    }
    // The records are packed once (the capacity the measuring pass found is reserved,
    // so a large folder is held about twice while its listing is built, not once per
    // name), sorted by where they begin, and copied out in order.
    CPackedRecords packed;
    packed.bKeyed = bConvert;
    packed.bytes.reserve(ullCapacity);
    uint64_t ullTotal = 0, ullPacked = 0;
    std::string strShownIn;  // the folder as a line about a name not shown starts
    if (bConvert)
        strShownIn = strFolder.empty() || strFolder.back() == '/' ? strFolder : strFolder + "/";
    std::string strStb;
    const int rc = plat::ReadDirectory(share, strFolder, false, [&](plat::FindEntry& e) {
        if (bConvert && !pNames->Shows(e.strName, strShownIn, strStb))
            return;  // the STB could not name it back
        const std::string_view name = bConvert ? std::string_view(strStb) : std::string_view(e.strName);
        const uint64_t ullRecord = name.size() + 2;
        ullTotal += ullRecord;  // counted whether or not it fits
        if (ullPacked + ullRecord > ullCapacity)
            return;  // the folder grew since it was measured: the size tells
        ullPacked += ullRecord;
        packed.Append(e.bDir, name, e.strName);
    });
    if (rc != 0)
        return 0;
    // Sorted by the local names, in the order the STB sees without a code page.
    std::sort(packed.starts.begin(), packed.starts.end(), [&](uint64_t a, uint64_t b) {
        const std::string_view na = packed.Key(a), nb = packed.Key(b);
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
    const uint64_t ullSize = eReq == PathReq::Ok ? BuildDirList(ctx.share, nullptr, 0, ctx.strPath, &ctx.names) : 0;
    if (ullSize > UINT32_MAX) {
        ucStatus = kStatusNoMemory;  // a listing the 32-bit size field cannot carry
    } else if (ullSize != 0) {
        if (!ctx.TakeBin(ullSize, false)) {
            ucStatus = kStatusNoMemory;
        } else if (BuildDirList(ctx.share, ctx.pBin.get(), ullSize, ctx.strPath, &ctx.names) != ullSize) {
            ctx.ReleaseBin();
            ucStatus = kStatusShort;  // the folder changed between the two passes
        } else {
            ctx.nXferSize = static_cast<uint32_t>(ullSize);
            ucStatus = kStatusDone;
            BeginTransfer(sess, ctx, StbActivity::Listing, ctx.strPath, ullSize);
        }
    }
    SendStatusU32(sess, FC_DIR_REP, ucStatus, ctx.nXferSize);
    return CmdNext::Continue;
}
