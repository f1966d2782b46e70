#include "platform/netif.h"

#include <algorithm>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace plat {

int ListLocalIPv4(std::vector<uint32_t>& addrs)
{
    addrs.clear();
    ifaddrs* pList = nullptr;
    if (getifaddrs(&pList) != 0)
        return -1;
    for (const ifaddrs* p = pList; p != nullptr; p = p->ifa_next) {
        if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != AF_INET)
            continue;
        if ((p->ifa_flags & IFF_UP) == 0 || (p->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        const uint32_t ulAddr = ntohl(reinterpret_cast<const sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr);
        if ((ulAddr >> 24) == 127 || ulAddr == 0)
            continue;
        if (std::find(addrs.begin(), addrs.end(), ulAddr) == addrs.end())
            addrs.push_back(ulAddr);
    }
    freeifaddrs(pList);
    return 0;
}

}  // namespace plat
