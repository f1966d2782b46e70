#include "app/status/statusjson.h"

#include <nlohmann/json.hpp>

#include "app/status/statustext.h"
#include "net/allowlist.h"

using nlohmann::json;

namespace {

std::string AddressText(uint32_t ulAddr)
{
    char szAddr[kIPv4TextBytes];
    FormatIPv4(ulAddr, szAddr);
    return szAddr;
}

json StbJson(const CStbStatus& stb)
{
    const CActivityView& a = stb.activity;
    json j = {
        {"id", stb.ulId},
        {"address", AddressText(stb.ulPeerAddr)},
        {"since", stb.llSince},
        {"activity", ActivityName(a.eActivity)},
        {"doing", DoingText(a)},
        {"path", a.strPath},
        {"done", a.ullDone},
        {"total", a.ullTotal},
        {"rate", stb.ullRate},
        {"sent", a.ullSent},
        {"received", a.ullReceived},
    };
    const int nPercent = ProgressPercent(a);
    j["percent"] = nPercent >= 0 ? json(nPercent) : json(nullptr);
    return j;
}

// Typed reads that never throw: false when the member is missing or of another type.
bool Get(const json& j, const char* pszKey, uint64_t& ull)
{
    auto it = j.find(pszKey);
    if (it == j.end() || !it->is_number_unsigned())
        return false;
    ull = it->get<uint64_t>();
    return true;
}

bool Get(const json& j, const char* pszKey, int64_t& ll)
{
    auto it = j.find(pszKey);
    if (it == j.end() || !it->is_number_integer())
        return false;
    ll = it->get<int64_t>();
    return true;
}

bool Get(const json& j, const char* pszKey, std::string& str)
{
    auto it = j.find(pszKey);
    if (it == j.end() || !it->is_string())
        return false;
    str = it->get<std::string>();
    return true;
}

bool GetAddress(const json& j, const char* pszKey, uint32_t& ulAddr)
{
    std::string str;
    return Get(j, pszKey, str) && ParseIPv4(str.c_str(), ulAddr) == 0;
}

bool ActivityFromName(const std::string& str, StbActivity& eActivity)
{
    for (int i = 0; i <= static_cast<int>(StbActivity::Moving); ++i) {
        if (str == ActivityName(static_cast<StbActivity>(i))) {
            eActivity = static_cast<StbActivity>(i);
            return true;
        }
    }
    return false;
}

bool EventFromName(const std::string& str, StatusEventKind& eKind)
{
    for (int i = 0; i <= static_cast<int>(StatusEventKind::Refused); ++i) {
        if (str == StatusEventName(static_cast<StatusEventKind>(i))) {
            eKind = static_cast<StatusEventKind>(i);
            return true;
        }
    }
    return false;
}

bool ParseStb(const json& j, CStbStatus& stb)
{
    CActivityView& a = stb.activity;
    uint64_t ullId = 0;
    std::string strActivity;
    if (!j.is_object() || !Get(j, "id", ullId) || !GetAddress(j, "address", stb.ulPeerAddr) ||
        !Get(j, "since", stb.llSince) || !Get(j, "activity", strActivity) || !ActivityFromName(strActivity, a.eActivity) ||
        !Get(j, "path", a.strPath) || !Get(j, "done", a.ullDone) || !Get(j, "total", a.ullTotal) ||
        !Get(j, "rate", stb.ullRate) || !Get(j, "sent", a.ullSent) || !Get(j, "received", a.ullReceived))
        return false;
    stb.ulId = static_cast<unsigned long>(ullId);
    return true;
}

bool ParseEvent(const json& j, CStatusEvent& e)
{
    std::string strKind;
    return j.is_object() && Get(j, "time", e.llTime) && Get(j, "event", strKind) && EventFromName(strKind, e.eKind) &&
           GetAddress(j, "address", e.ulPeerAddr) && Get(j, "text", e.strText);
}

}  // namespace

std::string StatusJson(const CStatusSnapshot& snap)
{
    json stbs = json::array();
    for (const CStbStatus& stb : snap.stbs)
        stbs.push_back(StbJson(stb));
    json events = json::array();
    for (const CStatusEvent& e : snap.events)
        events.push_back({{"time", e.llTime},
                          {"event", StatusEventName(e.eKind)},
                          {"address", AddressText(e.ulPeerAddr)},
                          {"text", e.strText}});
    json addresses = json::array();
    for (uint32_t ulAddr : snap.addresses)
        addresses.push_back(AddressText(ulAddr));
    const CStatusTotals& t = snap.totals;
    json j = {
        {"now", snap.llNow},
        {"started", snap.llStarted},
        {"port", snap.usPort},
        {"addresses", addresses},
        {"free_bytes", snap.bHasFree ? json(snap.ullFreeBytes) : json(nullptr)},
        {"summary", SummaryLine(snap)},
        {"stbs", stbs},
        {"totals",
         {{"sent", t.ullSent},
          {"received", t.ullReceived},
          {"sessions", t.ullSessions},
          {"refused_address", t.ullRefusedAddress},
          {"refused_cap", t.ullRefusedCap}}},
        {"events", events},
    };
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

int ParseStatusJson(const std::string& strText, CStatusSnapshot& snap)
{
    const json j = json::parse(strText, nullptr, false);
    if (j.is_discarded() || !j.is_object())
        return -1;
    snap = CStatusSnapshot{};
    uint64_t ullPort = 0;
    if (!Get(j, "now", snap.llNow) || !Get(j, "started", snap.llStarted) || !Get(j, "port", ullPort) ||
        ullPort > 65535)
        return -1;
    snap.usPort = static_cast<uint16_t>(ullPort);
    snap.bHasFree = Get(j, "free_bytes", snap.ullFreeBytes);
    auto addresses = j.find("addresses");
    auto stbs = j.find("stbs");
    auto totals = j.find("totals");
    auto events = j.find("events");
    if (addresses == j.end() || !addresses->is_array() || stbs == j.end() || !stbs->is_array() ||
        totals == j.end() || !totals->is_object() || events == j.end() || !events->is_array())
        return -1;
    for (const json& a : *addresses) {
        uint32_t ulAddr = 0;
        if (!a.is_string() || ParseIPv4(a.get<std::string>().c_str(), ulAddr) != 0)
            return -1;
        snap.addresses.push_back(ulAddr);
    }
    for (const json& s : *stbs) {
        CStbStatus stb;
        if (!ParseStb(s, stb))
            return -1;
        snap.stbs.push_back(std::move(stb));
    }
    CStatusTotals& t = snap.totals;
    if (!Get(*totals, "sent", t.ullSent) || !Get(*totals, "received", t.ullReceived) ||
        !Get(*totals, "sessions", t.ullSessions) || !Get(*totals, "refused_address", t.ullRefusedAddress) ||
        !Get(*totals, "refused_cap", t.ullRefusedCap))
        return -1;
    for (const json& ev : *events) {
        CStatusEvent e;
        if (!ParseEvent(ev, e))
            return -1;
        snap.events.push_back(std::move(e));
    }
    return 0;
}
