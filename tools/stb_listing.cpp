#include "tools/stb_listing.h"

#include <cstring>

#include "net/wire.h"
#include "tools/stb_conn.h"
#include "net/protocol.h"
#include "tools/stb_report.h"
#include "tools/stb_xfer.h"

bool ParseListing(const uint8_t* pBytes, size_t nCount, std::vector<CListEntry>& entries)
{
    size_t nAt = 0;
    while (nAt < nCount) {
        if (nCount - nAt < 2)
            return false;
        const uint8_t* pName = pBytes + nAt + 1;
        const void* pEnd = memchr(pName, 0, nCount - nAt - 1);
        if (pEnd == nullptr)
            return false;
        const size_t nName = static_cast<size_t>(static_cast<const uint8_t*>(pEnd) - pName);
        entries.push_back(CListEntry{std::string(reinterpret_cast<const char*>(pName), nName), pBytes[nAt] != 0});
        nAt += nName + 2;
    }
    return true;
}

int FetchListing(const CStbOptions& opt, CStbConn& conn, const std::string& strPath, std::vector<CListEntry>& entries,
                 uint8_t& ucStatus)
{
    CFrameView reply;
    if (conn.Exchange(FC_DIR_REQ, PathPayload(strPath), FC_DIR_REP, 5, reply) != 0)
        return ReportConn(opt, conn);
    ucStatus = reply.pPayload[0];
    const uint32_t ulSize = GetU32LE(reply.pPayload + 1);
    if (ucStatus != kStatusDone)
        return 0;
    CMemSink sink;
    std::string strWhy;
    XferResult eResult = FetchRange(conn, FileDataKind(false, opt.bSmallFrames), 0, ulSize, sink, nullptr, strWhy);
    if (eResult != XferResult::Done)
        return Report(opt, ExitFor(eResult), strWhy);
    if (!ParseListing(sink.Bytes().data(), sink.Bytes().size(), entries))
        return Report(opt, kExitConn, "the daemon sent a listing that does not end on a whole entry");
    return 0;
}

int ConnectAndFetchListing(const CStbOptions& opt, CStbConn& conn, const std::string& strPath,
                           std::vector<CListEntry>& entries, uint8_t& ucStatus)
{
    if (int rc = OpenConn(opt, conn))
        return rc;
    return FetchListing(opt, conn, strPath, entries, ucStatus);
}
