#include "app/status/statushtml.h"

#include "app/status/statustext.h"
#include "corvane_version.h"
#include "net/allowlist.h"

namespace {

const char kHead[] = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Corvane</title>
<style>
body { font-family: sans-serif; margin: 1.5em; color: #222; }
h1 { font-size: 1.4em; } h2 { font-size: 1.1em; margin-top: 1.5em; }
table { border-collapse: collapse; } td, th { padding: 0.2em 0.8em; text-align: left; border-bottom: 1px solid #ddd; }
progress { width: 12em; } .muted { color: #777; }
</style>
</head>
<body>
<h1>Corvane</h1>
)";

// Fetches the page again every second and swaps the live part in; without JavaScript the
// page is read as it was served.
const char kTail[] = R"(<script>
(function () {
  function refresh() {
    fetch(location.pathname, {cache: "no-store"})
      .then(function (r) { return r.ok ? r.text() : Promise.reject(r.status); })
      .then(function (t) {
        var fresh = new DOMParser().parseFromString(t, "text/html").getElementById("live");
        var now = document.getElementById("live");
        if (fresh && now) now.replaceWith(fresh);
      })
      .catch(function () {})
      .finally(function () { setTimeout(refresh, 1000); });
  }
  setTimeout(refresh, 1000);
})();
</script>
</body>
</html>
)";

std::string AddressText(uint32_t ulAddr)
{
    char szAddr[kIPv4TextBytes];
    FormatIPv4(ulAddr, szAddr);
    return szAddr;
}

std::string Cell(const std::string& str) { return "<td>" + HtmlEscaped(str) + "</td>"; }

void StbRows(std::string& html, const CStatusSnapshot& snap)
{
    html += "<h2>" + HtmlEscaped(SummaryLine(snap)) + "</h2>\n";
    if (snap.stbs.empty())
        return;
    html += "<table id=\"stbs\">\n<tr><th>STB</th><th>Since</th><th>Doing</th><th>Progress</th><th>Rate</th></tr>\n";
    for (const CStbStatus& stb : snap.stbs) {
        const CActivityView& a = stb.activity;
        html += "<tr class=\"stb\">" + Cell(AddressText(stb.ulPeerAddr)) + Cell(ClockText(stb.llSince)) +
                Cell(DoingText(a)) + "<td>";
        const int nPercent = ProgressPercent(a);
        if (a.eActivity != StbActivity::Idle && nPercent >= 0)
            html += "<progress max=\"100\" value=\"" + std::to_string(nPercent) + "\">" + std::to_string(nPercent) +
                    " %</progress> " + HtmlEscaped(HumanBytes(a.ullDone) + " of " + HumanBytes(a.ullTotal)) +
                    " (<span class=\"percent\">" + std::to_string(nPercent) + "</span> %)";
        else if (a.eActivity != StbActivity::Idle && a.ullDone != 0)
            html += HtmlEscaped(HumanBytes(a.ullDone));
        html += "</td>" + Cell(stb.ullRate != 0 ? HumanBytes(stb.ullRate) + "/s" : std::string()) + "</tr>\n";
    }
    html += "</table>\n";
}

void EventRows(std::string& html, const CStatusSnapshot& snap)
{
    html += "<h2>Recent events</h2>\n";
    if (snap.events.empty()) {
        html += "<p class=\"muted\">None yet.</p>\n";
        return;
    }
    html += "<table id=\"events\">\n";
    // The newest first.
    for (auto it = snap.events.rbegin(); it != snap.events.rend(); ++it)
        html += "<tr>" + Cell(ClockText(it->llTime)) + Cell(StatusEventName(it->eKind)) +
                Cell(AddressText(it->ulPeerAddr)) + Cell(it->strText) + "</tr>\n";
    html += "</table>\n";
}

}  // namespace

std::string HtmlEscaped(const std::string& str)
{
    std::string strOut;
    strOut.reserve(str.size());
    for (char c : str) {
        switch (c) {
        case '&': strOut += "&amp;"; break;
        case '<': strOut += "&lt;"; break;
        case '>': strOut += "&gt;"; break;
        case '"': strOut += "&quot;"; break;
        case '\'': strOut += "&#39;"; break;
        default: strOut += c; break;
        }
    }
    return strOut;
}

std::string StatusHtml(const CStatusSnapshot& snap)
{
    std::string html = kHead;
    html += "<div id=\"live\">\n";
    for (uint32_t ulAddr : snap.addresses)
        html += "<p>" + HtmlEscaped(ReachLine(ulAddr, snap.usPort)) + "</p>\n";
    if (snap.addresses.empty())
        html += "<p>No network address but this computer's own (port " + std::to_string(snap.usPort) + ").</p>\n";
    StbRows(html, snap);
    const CStatusTotals& t = snap.totals;
    html += "<h2>Since " + HtmlEscaped(ClockText(snap.llStarted)) + "</h2>\n<p>" +
            HtmlEscaped(HumanBytes(t.ullSent)) + " sent, " + HtmlEscaped(HumanBytes(t.ullReceived)) + " received, " +
            std::to_string(t.ullSessions) + " sessions, " + std::to_string(t.ullRefusedAddress + t.ullRefusedCap) +
            " connections refused";
    if (snap.bHasFree)
        html += "; " + HtmlEscaped(HumanBytes(snap.ullFreeBytes)) + " free in the shared folder";
    html += ".</p>\n";
    EventRows(html, snap);
    html += "<p class=\"muted\">Corvane " CORVANE_VERSION " &middot; <a href=\"/status.json\">status.json</a> "
            "&middot; <a href=\"/metrics\">metrics</a></p>\n</div>\n";
    html += kTail;
    return html;
}
