#include "app/status/statuspage.h"

#include <charconv>
#include <cstring>

#include "app/status/statushtml.h"
#include "app/status/statusjson.h"
#include "app/status/statusmetrics.h"

const char* const g_pszDefaultStatusListen = "127.0.0.1:2009";

int ParseStatusListen(const char* pszText, CStatusListen& listen, bool bAnyPort)
{
    if (strcmp(pszText, "off") == 0) {
        listen = CStatusListen{};
        listen.bOff = true;
        return 0;
    }
    const char* pszColon = strrchr(pszText, ':');
    if (pszColon == nullptr)
        return -1;
    uint32_t ulAddr = 0;
    if (ParseIPv4(pszText, ulAddr, pszColon) != 0)
        return -1;
    const char* pszPort = pszColon + 1;
    const char* pszEnd = pszPort + strlen(pszPort);
    unsigned uPort = 0;
    const auto [p, ec] = std::from_chars(pszPort, pszEnd, uPort);
    if (ec != std::errc() || p != pszEnd || pszPort == pszEnd || uPort > 65535 || (uPort == 0 && !bAnyPort) ||
        (pszPort[0] == '0' && pszEnd - pszPort > 1))
        return -1;
    listen.bOff = false;
    listen.ulAddr = ulAddr;
    listen.usPort = static_cast<uint16_t>(uPort);
    return 0;
}

plat::CHttpReply StatusPageReply(const std::string& strMethod, const std::string& strPath,
                                 const std::function<CStatusSnapshot()>& fnSnapshot)
{
    plat::CHttpReply reply;
    reply.headers = {{"Cache-Control", "no-store"},
                     {"X-Content-Type-Options", "nosniff"},
                     {"Content-Security-Policy",
                      "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; connect-src 'self'"}};
    reply.strContentType = "text/plain; charset=utf-8";
    // Nothing here changes anything: every other method is refused before any work.
    if (strMethod != "GET" && strMethod != "HEAD") {
        reply.nStatus = 405;
        reply.headers.emplace_back("Allow", "GET, HEAD");
        reply.strBody = "Only GET and HEAD.\n";
        return reply;
    }
    if (strPath == "/") {
        reply.strContentType = "text/html; charset=utf-8";
        reply.strBody = StatusHtml(fnSnapshot());
    } else if (strPath == "/status.json") {
        reply.strContentType = "application/json";
        reply.strBody = StatusJson(fnSnapshot());
    } else if (strPath == "/metrics") {
        reply.strContentType = "text/plain; version=0.0.4; charset=utf-8";
        reply.strBody = StatusMetrics(fnSnapshot());
    } else {
        reply.nStatus = 404;
        reply.strBody = "Not found.\n";
    }
    return reply;
}

int CStatusPage::Start(const CStatusListen& listen, const CAllowList& allow,
                       std::function<CStatusSnapshot()> fnSnapshot)
{
    if (listen.bOff)
        return 0;
    m_Allow = allow;
    m_fnSnapshot = std::move(fnSnapshot);
    return m_Server.Start(
        listen.ulAddr, listen.usPort, [this](uint32_t ulPeer) { return m_Allow.Allows(ulPeer); },
        [this](const std::string& strMethod, const std::string& strPath) {
            return StatusPageReply(strMethod, strPath, m_fnSnapshot);
        });
}
