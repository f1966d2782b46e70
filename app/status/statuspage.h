// The status page for computers without a desktop: "/" (HTML), "/status.json" and
// "/metrics" on an address of its own (--status-listen, 127.0.0.1:2009 unless told
// otherwise). Read-only: GET and HEAD only; the hosts of the allow-list only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/status/statuslisten.h"
#include "net/allowlist.h"
#include "net/statusboard.h"
#include "platform/httpserver.h"

// The reply to one request, from a snapshot taken only when a page is asked for.
plat::CHttpReply StatusPageReply(const std::string& strMethod, const std::string& strPath,
                                 const std::function<CStatusSnapshot()>& fnSnapshot);

class CStatusPage {
public:
    // Serves the page at the address for the hosts the list allows. 0, or -1 when the
    // address cannot be bound (or this platform serves no page).
    int Start(const CStatusListen& listen, const CAllowList& allow, std::function<CStatusSnapshot()> fnSnapshot);
    void Stop() { m_Server.Stop(); }
    uint16_t Port() const { return m_Server.Port(); }

private:
    CAllowList m_Allow;
    std::function<CStatusSnapshot()> m_fnSnapshot;
    plat::CHttpServer m_Server;
};
