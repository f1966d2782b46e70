// The status page's server on libmicrohttpd: one internal thread polling every
// connection, few connections, short time-outs, small per-connection memory.
#include "platform/httpserver.h"

#include <arpa/inet.h>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>

namespace plat {

namespace {

constexpr unsigned kMaxConnections = 16;
constexpr unsigned kMaxConnectionsPerHost = 4;
constexpr unsigned kConnectionTimeoutSeconds = 10;
constexpr size_t kConnectionMemory = 32 * 1024;

}  // namespace

struct CHttpServerAccess {
    static MHD_Result Admit(void* pCls, const struct sockaddr* pAddr, socklen_t nAddrLen)
    {
        auto* pServer = static_cast<CHttpServer*>(pCls);
        if (pAddr == nullptr || pAddr->sa_family != AF_INET || nAddrLen < static_cast<socklen_t>(sizeof(sockaddr_in)))
            return MHD_NO;
        sockaddr_in sin;
        memcpy(&sin, pAddr, sizeof(sin));
        return pServer->m_fnAdmit(ntohl(sin.sin_addr.s_addr)) ? MHD_YES : MHD_NO;
    }

    static MHD_Result Handle(void* pCls, MHD_Connection* pConn, const char* pszUrl, const char* pszMethod,
                             const char* /*pszVersion*/, const char* /*pUpload*/, size_t* /*pnUpload*/,
                             void** /*ppState*/)
    {
        auto* pServer = static_cast<CHttpServer*>(pCls);
        const CHttpReply reply = pServer->m_fnHandler(pszMethod != nullptr ? pszMethod : "",
                                                      pszUrl != nullptr ? pszUrl : "");
        MHD_Response* pResponse = MHD_create_response_from_buffer(
            reply.strBody.size(), const_cast<char*>(reply.strBody.data()), MHD_RESPMEM_MUST_COPY);
        if (pResponse == nullptr)
            return MHD_NO;
        if (!reply.strContentType.empty())
            MHD_add_response_header(pResponse, MHD_HTTP_HEADER_CONTENT_TYPE, reply.strContentType.c_str());
        for (const auto& [strName, strValue] : reply.headers)
            MHD_add_response_header(pResponse, strName.c_str(), strValue.c_str());
        const MHD_Result rc = MHD_queue_response(pConn, static_cast<unsigned>(reply.nStatus), pResponse);
        MHD_destroy_response(pResponse);
        return rc;
    }
};

int CHttpServer::Start(uint32_t ulAddr, uint16_t usPort, HttpAdmit fnAdmit, HttpHandler fnHandler)
{
    Stop();
    m_fnAdmit = std::move(fnAdmit);
    m_fnHandler = std::move(fnHandler);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(usPort);
    sin.sin_addr.s_addr = htonl(ulAddr);
    MHD_Daemon* pDaemon = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL, usPort, &CHttpServerAccess::Admit, this,
        &CHttpServerAccess::Handle, this, MHD_OPTION_SOCK_ADDR, reinterpret_cast<const sockaddr*>(&sin),
        MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxConnectionsPerHost,
        MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kConnectionMemory, MHD_OPTION_END);
    if (pDaemon == nullptr)
        return -1;
    m_pDaemon = pDaemon;
    const MHD_DaemonInfo* pInfo = MHD_get_daemon_info(pDaemon, MHD_DAEMON_INFO_BIND_PORT);
    m_usPort = pInfo != nullptr ? pInfo->port : usPort;
    return 0;
}

void CHttpServer::Stop()
{
    if (m_pDaemon != nullptr) {
        MHD_stop_daemon(static_cast<MHD_Daemon*>(m_pDaemon));
        m_pDaemon = nullptr;
    }
    m_usPort = 0;
}

}  // namespace plat
