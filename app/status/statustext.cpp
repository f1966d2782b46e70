#include "app/status/statustext.h"

#include <cstdint>
#include <cstdio>

#include "net/allowlist.h"
#include "net/servicepulse.h"
#include "platform/clock.h"

namespace {

std::string AddressText(uint32_t ulAddr)
{
    char szAddr[kIPv4TextBytes];
    FormatIPv4(ulAddr, szAddr);
    return szAddr;
}

// The daemon's side of the activity: an STB's download is what the daemon sends.
const char* Verb(StbActivity eActivity)
{
    switch (eActivity) {
    case StbActivity::Idle:
        return "idle";
    case StbActivity::Listing:
        return "listing";
    case StbActivity::Downloading:
        return "sending";
    case StbActivity::Uploading:
        return "receiving";
    case StbActivity::DirDownload:
        return "sending folder";
    case StbActivity::DirUpload:
        return "receiving folder";
    case StbActivity::Copying:
        return "copying";
    case StbActivity::Moving:
        return "moving";
    }
    return "idle";
}

// The last name of a path ("/a/rec.ts" gives "rec.ts"; a folder's trailing '/' ignored).
std::string LastName(std::string strPath)
{
    while (strPath.size() > 1 && strPath.back() == '/')
        strPath.pop_back();
    const size_t n = strPath.rfind('/');
    return n == std::string::npos || strPath.size() == 1 ? strPath : strPath.substr(n + 1);
}

// "sending rec.ts 43 %", for the one-line summaries.
std::string ShortDoing(const CActivityView& activity)
{
    std::string str = Verb(activity.eActivity);
    if (activity.eActivity == StbActivity::Idle || activity.strPath.empty())
        return str;
    str += ' ';
    str += LastName(activity.strPath);
    if (const int nPercent = ProgressPercent(activity); nPercent >= 0)
        str += ' ' + std::to_string(nPercent) + " %";
    return str;
}

// The transfer to name in a summary: the busiest one, else none.
const CStbStatus* Busiest(const CStatusSnapshot& snap)
{
    const CStbStatus* pBest = nullptr;
    for (const CStbStatus& stb : snap.stbs) {
        if (stb.activity.eActivity == StbActivity::Idle)
            continue;
        if (pBest == nullptr || stb.ullRate > pBest->ullRate)
            pBest = &stb;
    }
    return pBest;
}

std::string StbCount(size_t n) { return SessionCountText(static_cast<int>(n)); }

}  // namespace

std::string ReachLine(uint32_t ulAddr, uint16_t usPort)
{
    return "STBs reach this computer at " + AddressText(ulAddr) + " (port " + std::to_string(usPort) + ")";
}

std::string DoingText(const CActivityView& activity)
{
    std::string str = Verb(activity.eActivity);
    if (activity.eActivity != StbActivity::Idle && !activity.strPath.empty())
        str += " " + activity.strPath;
    return str;
}

int ProgressPercent(const CActivityView& activity)
{
    const uint64_t ullTotal = activity.ullTotal;
    if (ullTotal == 0)
        return -1;
    const uint64_t ullDone = activity.ullDone < ullTotal ? activity.ullDone : ullTotal;
    // Whole percent rounded down: never "100 %" before the last byte.
    if (ullTotal <= UINT64_MAX / 100)
        return static_cast<int>(ullDone * 100 / ullTotal);
    return static_cast<int>(ullDone / (ullTotal / 100));
}

std::string SummaryLine(const CStatusSnapshot& snap)
{
    std::string str = StbCount(snap.stbs.size());
    if (const CStbStatus* pBusy = Busiest(snap))
        str += "; " + ShortDoing(pBusy->activity);
    return str;
}

std::string TooltipText(const CStatusSnapshot& snap)
{
    if (snap.stbs.empty())
        return "Corvane: no STB connected";
    std::string str = "Corvane: " + StbCount(snap.stbs.size());
    if (const CStbStatus* pBusy = Busiest(snap))
        str += ", " + ShortDoing(pBusy->activity);
    return str;
}

std::string HumanBytes(uint64_t ullBytes)
{
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    if (ullBytes < 1000)
        return std::to_string(ullBytes) + " B";
    double d = static_cast<double>(ullBytes) / 1000.0;
    size_t i = 0;
    while (d >= 1000.0 && i + 1 < sizeof(kUnits) / sizeof(kUnits[0])) {
        d /= 1000.0;
        ++i;
    }
    char sz[32];
    snprintf(sz, sizeof(sz), "%.1f %s", d, kUnits[i]);
    return sz;
}

std::string ClockText(int64_t llTime)
{
    int h = 0, m = 0, s = 0;
    if (!plat::LocalTimeOfDay(llTime, h, m, s))
        return "--:--:--";
    char sz[16];
    snprintf(sz, sizeof(sz), "%02d:%02d:%02d", h, m, s);
    return sz;
}

std::string StbLine(const CStbStatus& stb)
{
    std::string str = AddressText(stb.ulPeerAddr) + "  since " + ClockText(stb.llSince) + "  " +
                      DoingText(stb.activity);
    const CActivityView& a = stb.activity;
    if (a.eActivity == StbActivity::Idle)
        return str;
    if (a.ullTotal != 0)
        str += "  " + HumanBytes(a.ullDone) + " of " + HumanBytes(a.ullTotal) + " (" +
               std::to_string(ProgressPercent(a)) + " %)";
    else if (a.ullDone != 0)
        str += "  " + HumanBytes(a.ullDone);
    if (stb.ullRate != 0)
        str += ", " + HumanBytes(stb.ullRate) + "/s";
    return str;
}

std::string StatusText(const CStatusSnapshot& snap)
{
    std::string str;
    for (uint32_t ulAddr : snap.addresses)
        str += ReachLine(ulAddr, snap.usPort) + "\n";
    if (snap.addresses.empty())
        str += "No network address but this computer's own (port " + std::to_string(snap.usPort) + ")\n";
    // Appended piece by piece: GCC 12 in Release warns (-Wrestrict) about a sum that starts
    // with a short literal.
    str += '\n';
    str += SummaryLine(snap);
    str += '\n';
    for (const CStbStatus& stb : snap.stbs)
        str += "  " + StbLine(stb) + "\n";
    const CStatusTotals& t = snap.totals;
    str += "\nSince " + ClockText(snap.llStarted) + ": " + HumanBytes(t.ullSent) + " sent, " +
           HumanBytes(t.ullReceived) + " received, " + std::to_string(t.ullSessions) + " sessions, " +
           std::to_string(t.ullRefusedAddress) + " refused (address), " + std::to_string(t.ullRefusedCap) +
           " refused (too many sessions)\n";
    if (snap.bHasFree)
        str += "Free in the shared folder: " + HumanBytes(snap.ullFreeBytes) + "\n";
    if (!snap.events.empty()) {
        str += "\nRecent events:\n";
        for (const CStatusEvent& e : snap.events) {
            str += "  " + ClockText(e.llTime) + "  " + StatusEventName(e.eKind) + "  " + AddressText(e.ulPeerAddr);
            if (!e.strText.empty())
                str += "  " + e.strText;
            str += "\n";
        }
    }
    return str;
}
