#include "platform/netif.h"

// Winsock's headers before <windows.h> (win.h), and iphlpapi's after both.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32/win.h"

#include <iphlpapi.h>

#include <algorithm>
#include <memory>
#include <new>

namespace plat {

int ListLocalIPv4(std::vector<uint32_t>& addrs)
{
    addrs.clear();
    constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The list's size is known only by asking; an adapter that appears in between makes
    // it grow, so ask a few times.
    ULONG ulBytes = 16 * 1024;
    std::unique_ptr<unsigned char[]> pBuf;
    ULONG ulResult = ERROR_BUFFER_OVERFLOW;
    for (int nTry = 0; nTry < 4 && ulResult == ERROR_BUFFER_OVERFLOW; ++nTry) {
        pBuf.reset(new (std::nothrow) unsigned char[ulBytes]);
        if (!pBuf)
            return -1;
        ulResult = GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                        reinterpret_cast<IP_ADAPTER_ADDRESSES*>(pBuf.get()), &ulBytes);
    }
    if (ulResult == ERROR_NO_DATA)
        return 0;  // no adapter at all
    if (ulResult != NO_ERROR)
        return -1;
    for (const IP_ADAPTER_ADDRESSES* pAdapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(pBuf.get());
         pAdapter != nullptr; pAdapter = pAdapter->Next) {
        if (pAdapter->OperStatus != IfOperStatusUp || pAdapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS* pAddr = pAdapter->FirstUnicastAddress; pAddr != nullptr;
             pAddr = pAddr->Next) {
            const SOCKADDR* pSa = pAddr->Address.lpSockaddr;
            if (pSa == nullptr || pSa->sa_family != AF_INET)
                continue;
            const uint32_t ulAddr = ntohl(reinterpret_cast<const sockaddr_in*>(pSa)->sin_addr.s_addr);
            if ((ulAddr >> 24) == 127 || ulAddr == 0)
                continue;
            if (std::find(addrs.begin(), addrs.end(), ulAddr) == addrs.end())
                addrs.push_back(ulAddr);
        }
    }
    return 0;
}

}  // namespace plat
