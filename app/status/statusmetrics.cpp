#include "app/status/statusmetrics.h"

#include <map>

#include "net/allowlist.h"

namespace {

// One metric family: its help and type lines, then its samples.
void Family(std::string& str, const char* pszName, const char* pszType, const char* pszHelp)
{
    str += std::string("# HELP ") + pszName + " " + pszHelp + "\n";
    str += std::string("# TYPE ") + pszName + " " + pszType + "\n";
}

void Sample(std::string& str, const char* pszName, const std::string& strLabels, uint64_t ullValue)
{
    str += pszName;
    // Piece by piece: GCC 12 in Release warns (-Wrestrict) about a sum that starts with a
    // short literal.
    if (!strLabels.empty()) {
        str += '{';
        str += strLabels;
        str += '}';
    }
    str += ' ';
    str += std::to_string(ullValue);
    str += '\n';
}

std::string AddressText(uint32_t ulAddr)
{
    char szAddr[kIPv4TextBytes];
    FormatIPv4(ulAddr, szAddr);
    return szAddr;
}

// A session's labels; with bActivity also what it is doing (a transfer's own series).
std::string SessionLabels(const CStbStatus& stb, bool bActivity = false)
{
    std::string str = "address=\"" + AddressText(stb.ulPeerAddr) + "\",session=\"" + std::to_string(stb.ulId) + "\"";
    if (bActivity)
        str += std::string(",activity=\"") + ActivityName(stb.activity.eActivity) + "\"";
    return str;
}

}  // namespace

std::string StatusMetrics(const CStatusSnapshot& snap)
{
    std::string str;
    const CStatusTotals& t = snap.totals;
    Family(str, "corvane_sent_bytes_total", "counter", "Bytes sent to STBs since the daemon started.");
    Sample(str, "corvane_sent_bytes_total", "", t.ullSent);
    Family(str, "corvane_received_bytes_total", "counter", "Bytes received from STBs since the daemon started.");
    Sample(str, "corvane_received_bytes_total", "", t.ullReceived);
    Family(str, "corvane_sessions_opened_total", "counter", "STB sessions opened since the daemon started.");
    Sample(str, "corvane_sessions_opened_total", "", t.ullSessions);
    Family(str, "corvane_connections_refused_total", "counter",
           "Connections refused since the daemon started, by reason.");
    Sample(str, "corvane_connections_refused_total", "reason=\"address\"", t.ullRefusedAddress);
    Sample(str, "corvane_connections_refused_total", "reason=\"cap\"", t.ullRefusedCap);

    Family(str, "corvane_sessions", "gauge", "STB sessions connected now.");
    Sample(str, "corvane_sessions", "", snap.stbs.size());
    std::map<std::string, uint64_t> byActivity;
    for (int i = 0; i <= static_cast<int>(StbActivity::Moving); ++i)
        byActivity[ActivityName(static_cast<StbActivity>(i))] = 0;
    for (const CStbStatus& stb : snap.stbs)
        ++byActivity[ActivityName(stb.activity.eActivity)];
    Family(str, "corvane_sessions_by_activity", "gauge", "STB sessions connected now, by what they are doing.");
    for (const auto& [strActivity, ullCount] : byActivity)
        Sample(str, "corvane_sessions_by_activity", "activity=\"" + strActivity + "\"", ullCount);
    Family(str, "corvane_session_rate_bytes_per_second", "gauge",
           "Bytes per second each session moved over the last seconds.");
    for (const CStbStatus& stb : snap.stbs)
        Sample(str, "corvane_session_rate_bytes_per_second", SessionLabels(stb), stb.ullRate);
    // The transfer of each busy session: how far it has come, and of how much where the
    // protocol announced it.
    Family(str, "corvane_session_transfer_done_bytes", "gauge", "Bytes of each session's current transfer done.");
    for (const CStbStatus& stb : snap.stbs) {
        if (stb.activity.eActivity != StbActivity::Idle)
            Sample(str, "corvane_session_transfer_done_bytes", SessionLabels(stb, true), stb.activity.ullDone);
    }
    Family(str, "corvane_session_transfer_size_bytes", "gauge",
           "Bytes each session's current transfer announced (where the protocol gives its size).");
    for (const CStbStatus& stb : snap.stbs) {
        if (stb.activity.eActivity != StbActivity::Idle && stb.activity.ullTotal != 0)
            Sample(str, "corvane_session_transfer_size_bytes", SessionLabels(stb, true), stb.activity.ullTotal);
    }
    Family(str, "corvane_start_time_seconds", "gauge", "When the daemon started, in seconds since 1970.");
    Sample(str, "corvane_start_time_seconds", "", static_cast<uint64_t>(snap.llStarted < 0 ? 0 : snap.llStarted));
    if (snap.bHasFree) {
        Family(str, "corvane_shared_folder_free_bytes", "gauge", "Free bytes on the shared folder's volume.");
        Sample(str, "corvane_shared_folder_free_bytes", "", snap.ullFreeBytes);
    }
    return str;
}
