#include "app/status/statusclient.h"

#include "app/status/statusjson.h"
#include "app/status/statustext.h"
#include "net/allowlist.h"
#include "platform/socket.h"

namespace {

constexpr int kTimeoutMs = 5000;
// A status page is a few kilobytes; more than this is not one.
constexpr size_t kMaxReply = 4u << 20;

std::string AddressText(uint32_t ulAddr)
{
    char szAddr[kIPv4TextBytes];
    FormatIPv4(ulAddr, szAddr);
    return szAddr;
}

// The whole reply to GET /status.json, or false.
bool Fetch(const CStatusListen& listen, std::string& strReply)
{
    const std::string strHost = AddressText(listen.ulAddr);
    plat::Socket s = plat::SockConnect(strHost.c_str(), listen.usPort);
    if (s == plat::INVALID_SOCKET)
        return false;
    plat::SockSetRecvTimeout(s, kTimeoutMs);
    plat::SockSetSendTimeout(s, kTimeoutMs);
    const std::string strRequest = "GET /status.json HTTP/1.0\r\nHost: " + strHost + ":" +
                                   std::to_string(listen.usPort) + "\r\nConnection: close\r\n\r\n";
    bool bOk = plat::SockSendAll(s, strRequest.data(), strRequest.size()) == 0;
    char buf[16384];
    while (bOk) {
        const int n = plat::SockRecv(s, buf, sizeof(buf));
        if (n == 0)
            break;
        if (n < 0 || strReply.size() + static_cast<size_t>(n) > kMaxReply)
            bOk = false;
        else
            strReply.append(buf, static_cast<size_t>(n));
    }
    plat::SockClose(s);
    return bOk;
}

}  // namespace

int ReadRunningStatus(const CStatusListen& listen, std::string& strOut)
{
    if (listen.bOff) {
        strOut = "the status page is off (--status-listen off, or StatusListen=off in the settings): no status to "
                 "read\n";
        return kStatusNoDaemon;
    }
    // A page served on every address (0.0.0.0) is reached on this computer's own.
    CStatusListen at = listen;
    if (at.ulAddr == 0)
        at.ulAddr = 0x7F000001;
    const std::string strWhere = AddressText(at.ulAddr) + ":" + std::to_string(at.usPort);
    std::string strReply;
    if (!Fetch(at, strReply)) {
        strOut = "no Corvane status page answers at " + strWhere + "\n";
        return kStatusNoDaemon;
    }
    const size_t nBody = strReply.find("\r\n\r\n");
    const bool bHttpOk = strReply.size() >= 12 && strReply.compare(0, 7, "HTTP/1.") == 0 &&
                         strReply.compare(8, 4, " 200") == 0;
    CStatusSnapshot snap;
    if (!bHttpOk || nBody == std::string::npos || ParseStatusJson(strReply.substr(nBody + 4), snap) != 0) {
        strOut = "what answers at " + strWhere + " is not Corvane's status page\n";
        return kStatusNoDaemon;
    }
    strOut = StatusText(snap);
    return 0;
}
