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
    row.strSince = ClockText(stb.llSince).substr(0, 5);  // to the minute: "14:02"
    const CActivityView& a = stb.activity;
    row.strDoing = DoingText(a);
    if (a.eActivity == StbActivity::Idle)
        return row;  // what an idle session last moved is no progress of anything
    row.nPercent = ProgressPercent(a);
    // Short enough to fit on its bar beside the other columns: the bytes done are the
    // bar's share of the total.
    if (a.ullTotal != 0)
        row.strProgress = std::to_string(row.nPercent) + " % of " + HumanBytes(a.ullTotal);
    else if (a.ullDone != 0)
        row.strProgress = HumanBytes(a.ullDone);
    if (stb.ullRate != 0)
        row.strProgress += (row.strProgress.empty() ? "" : ", ") + HumanBytes(stb.ullRate) + "/s";
    return row;
}
