// A small read-only HTTP server on a thread of its own, for the status page: it hands
// each request's method and path to the caller and sends back what the caller answers.
// Only where the platform has a well-kept HTTP library (libmicrohttpd on Linux);
// elsewhere Start fails.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace plat {

struct CHttpReply {
    int nStatus = 200;
    std::string strContentType;
    std::string strBody;
    std::vector<std::pair<std::string, std::string>> headers;  // further header lines
};

// Whether a peer (IPv4, host byte order) may connect at all. Called on the server's thread.
using HttpAdmit = std::function<bool(uint32_t ulPeerAddr)>;
// The reply to a request (method, path without the query). Called on the server's thread.
// For HEAD, the body is measured and not sent.
using HttpHandler = std::function<CHttpReply(const std::string& strMethod, const std::string& strPath)>;

class CHttpServer {
public:
    CHttpServer() = default;
    ~CHttpServer() { Stop(); }
    CHttpServer(const CHttpServer&) = delete;
    CHttpServer& operator=(const CHttpServer&) = delete;

    // Listens on the IPv4 address and port (0: any free port) and serves until Stop.
    // Connections are few and short: at most a handful at once, each given a few seconds.
    // 0, or -1 when the address cannot be bound or the platform has no server.
    int Start(uint32_t ulAddr, uint16_t usPort, HttpAdmit fnAdmit, HttpHandler fnHandler);
    // Stops serving and waits for the server's thread. Safe to call more than once.
    void Stop();
    // The port served on (after Start), 0 when not serving.
    uint16_t Port() const { return m_usPort; }

private:
    void* m_pDaemon = nullptr;
    uint16_t m_usPort = 0;
    HttpAdmit m_fnAdmit;
    HttpHandler m_fnHandler;

    friend struct CHttpServerAccess;
};

}  // namespace plat
