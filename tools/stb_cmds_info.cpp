// ver, ls, stat, df and fwcheck: the questions that move no file.
#include <cstdio>
#include <cstring>

#include "net/wire.h"
#include "tools/progress.h"
#include "tools/stb_cmds.h"
#include "tools/stb_conn.h"
#include "tools/stb_listing.h"
#include "net/protocol.h"
#include "tools/stb_report.h"
#include "tools/stb_usage.h"

int CmdVer(const CStbOptions& opt)
{
    CStbConn conn;
    if (int rc = OpenConn(opt, conn))
        return rc;
    CFrameView reply;
    if (conn.Exchange(FC_VER_REQ, {}, FC_VER_REP, 2, reply) != 0)
        return ReportConn(opt, conn);
    printf("%u.%02u\n", reply.pPayload[0], reply.pPayload[1]);
    conn.Close(true);
    return kExitDone;
}

int CmdLs(const CStbOptions& opt)
{
    const std::string strPath = opt.arrArgs.empty() ? "/" : opt.arrArgs[0];
    CStbConn conn;
    std::vector<CListEntry> entries;
    uint8_t ucStatus = 0;
    if (int rc = ConnectAndFetchListing(opt, conn, strPath, entries, ucStatus))
        return rc;
    if (ucStatus != kStatusDone)
        return ReportStatus(opt, ucStatus);
    conn.Close(true);
    const bool bAll = (opt.uCmdOptions & kOptAll) != 0;
    for (const CListEntry& e : entries) {
        if (!bAll && (e.strName == "." || e.strName == ".."))
            continue;
        printf("%s%s\n", e.strName.c_str(), e.bDir ? "/" : "");
    }
    return kExitDone;
}

int CmdStat(const CStbOptions& opt)
{
    CStbConn conn;
    if (int rc = OpenConn(opt, conn))
        return rc;
    CFrameView reply;
    if (conn.Exchange(FC_FILE_SIZE_REQ, PathPayload(opt.arrArgs[0]), FC_FILE_SIZE_REP, 5, reply) != 0)
        return ReportConn(opt, conn);
    if (reply.pPayload[0] != kStatusDone)
        return ReportStatus(opt, reply.pPayload[0]);
    if (reply.nPayload != 5 && reply.nPayload != 9)
        return Report(opt, kExitConn, "the daemon sent a size reply of " + std::to_string(reply.nPayload) + " bytes");
    const uint64_t ullSize = GetLE(reply.pPayload + 1, static_cast<int>(reply.nPayload) - 1);
    conn.Close(true);
    printf("%llu\n", static_cast<unsigned long long>(ullSize));
    return kExitDone;
}

namespace {

struct CDiskUnits {
    uint32_t ulUnit = 0;
    uint32_t ulFree = 0;
    uint32_t ulTotal = 0;
};

int QueryDisk(const CStbOptions& opt, CStbConn& conn, uint32_t ulUnit, CDiskUnits& units)
{
    CFrameView reply;
    if (conn.Exchange(FC_DISK_SIZE_REQ, U32Payload(ulUnit), FC_DISK_SIZE_REP, 12, reply) != 0)
        return ReportConn(opt, conn);
    units.ulUnit = GetU32LE(reply.pPayload);
    units.ulFree = GetU32LE(reply.pPayload + 4);
    units.ulTotal = GetU32LE(reply.pPayload + 8);
    if (units.ulUnit == 0)
        return Report(opt, kExitFailed, "failed (the daemon could not read its volume, or has no shared folder)");
    return 0;
}

// The counts are 32-bit: on a volume too large for its cluster size they would wrap, so
// the unit is doubled until the total fits (judged by a first count in GiB).
int QueryDiskFitting(const CStbOptions& opt, CStbConn& conn, CDiskUnits& units)
{
    if (int rc = QueryDisk(opt, conn, 0, units))
        return rc;
    CDiskUnits coarse;
    if (int rc = QueryDisk(opt, conn, 1u << 30, coarse))
        return rc;
    const uint64_t ullBytes = (static_cast<uint64_t>(coarse.ulTotal) + 1) << 30;
    uint64_t ullUnit = units.ulUnit;
    while (ullBytes / ullUnit > UINT32_MAX && ullUnit <= UINT32_MAX / 2)
        ullUnit *= 2;
    if (ullUnit == units.ulUnit)
        return 0;
    return QueryDisk(opt, conn, static_cast<uint32_t>(ullUnit), units);
}

}  // namespace

int CmdDf(const CStbOptions& opt)
{
    CStbConn conn;
    if (int rc = OpenConn(opt, conn))
        return rc;
    CDiskUnits units;
    const int rc = (opt.uCmdOptions & kOptUnit) ? QueryDisk(opt, conn, opt.ulUnit, units)
                                                 : QueryDiskFitting(opt, conn, units);
    if (rc != 0)
        return rc;
    conn.Close(true);
    const uint64_t ullUnit = units.ulUnit;
    const uint32_t ulUsed = units.ulTotal >= units.ulFree ? units.ulTotal - units.ulFree : 0;
    const uint64_t ullTotal = units.ulTotal;
    const unsigned uPercent = ullTotal == 0 ? 0 : static_cast<unsigned>((ulUsed * 100ull + ullTotal - 1) / ullTotal);
    printf("unit  %u bytes\n", units.ulUnit);
    printf("total %u units  %s\n", units.ulTotal, HumanBytes(units.ulTotal * ullUnit).c_str());
    printf("free  %u units  %s\n", units.ulFree, HumanBytes(units.ulFree * ullUnit).c_str());
    printf("used  %u units  %s  %u%%\n", ulUsed, HumanBytes(ulUsed * ullUnit).c_str(), uPercent);
    return kExitDone;
}

int CmdFwcheck(const CStbOptions& opt)
{
    uint64_t ullModel = 0, ullVersion = 0;
    if (!ParseNumber(opt.arrArgs[0], 0xFFFF, ullModel) || !ParseNumber(opt.arrArgs[1], 0xFFFF, ullVersion))
        return ReportUsage("fwcheck takes a MODEL and a VERSION from 0 to 65535 (or 0xFFFF)");
    uint8_t request[6] = {0};
    PutU16LE(request + 1, static_cast<uint16_t>(ullModel));
    PutU16LE(request + 3, static_cast<uint16_t>(ullVersion));
    CStbConn conn;
    if (int rc = OpenConn(opt, conn))
        return rc;
    CFrameView reply;
    if (conn.Exchange(FC_MODEL_VER_REQ, std::vector<uint8_t>(request, request + 6), FC_MODEL_VER_REP, 2,
                      reply) != 0)
        return ReportConn(opt, conn);
    const uint8_t* p = reply.pPayload;
    if (p[0] != kStatusDone)
        return ReportStatus(opt, p[0]);
    const char* pszName = reinterpret_cast<const char*>(p + 1);
    const std::string strName(pszName, strnlen(pszName, reply.nPayload - 1));
    conn.Close(true);
    if (strName.empty()) {
        printf("no newer firmware\n");
        return kExitDone;
    }
    if (strName.size() + 2 != reply.nPayload)
        return Report(opt, kExitConn, "the daemon sent a firmware name that does not end its reply");
    printf("%s\n", strName.c_str());
    return kExitDone;
}
