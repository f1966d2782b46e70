#include "app/daemonstatus.h"

#include <utility>

#include "app/stbaddress.h"
#include "net/sessman.h"
#include "platform/socket.h"

StatusSource DaemonStatusSource()
{
    const int nPort = plat::SockLocalPort(SessMan.m_hServSock);
    const uint16_t usPort = nPort > 0 ? static_cast<uint16_t>(nPort) : SessMan.m_usPort;
    std::vector<uint32_t> addrs = ListenAddresses(SessMan.m_strListen);
    return [usPort, addrs = std::move(addrs)] {
        CStatusSnapshot snap = SessMan.m_Status.Snapshot();
        snap.usPort = usPort;
        snap.addresses = addrs;
        return snap;
    };
}
