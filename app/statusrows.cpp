#include "app/statusrows.h"

#include "app/status/statustext.h"
#include "net/allowlist.h"

std::vector<std::string> ReachLines(const CStatusSnapshot& snap)
{
    std::vector<std::string> lines;
    for (uint32_t ulAddr : snap.addresses)
        lines.push_back(ReachLine(ulAddr, snap.usPort));
    if (lines.empty())
        lines.push_back("STBs cannot reach this computer yet: it has no network address but loopback (port " +
                        std::to_string(snap.usPort) + ")");
    return lines;
}

CStbRow StbRow(const CStbStatus& stb)
{
    CStbRow row;
    char szAddr[kIPv4TextBytes];
    FormatIPv4(stb.ulPeerAddr, szAddr);
    row.strAddress = szAddr;
    row.strSince = ClockText(stb.llSince);
    const CActivityView& a = stb.activity;
    row.strDoing = DoingText(a);
    if (a.eActivity == StbActivity::Idle)
        return row;  // what an idle session last moved is no progress of anything
    row.nPercent = ProgressPercent(a);
    if (a.ullTotal != 0)
        row.strProgress = HumanBytes(a.ullDone) + " of " + HumanBytes(a.ullTotal) + " (" +
                          std::to_string(row.nPercent) + " %)";
    else if (a.ullDone != 0)
        row.strProgress = HumanBytes(a.ullDone);
    if (stb.ullRate != 0)
        row.strProgress += (row.strProgress.empty() ? "" : ", ") + HumanBytes(stb.ullRate) + "/s";
    return row;
}
