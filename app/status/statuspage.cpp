#include "app/status/statuspage.h"

#include "app/status/statushtml.h"
#include "app/status/statusjson.h"
#include "app/status/statusmetrics.h"

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
