#include "app/stbaddress.h"

#include "net/allowlist.h"
#include "platform/netif.h"

std::vector<uint32_t> ListenAddresses(const std::string& strListen)
{
    uint32_t ulAddr = 0;
    // 0.0.0.0 binds every address, as no --listen does.
    if (!strListen.empty() && ParseIPv4(strListen.c_str(), ulAddr) == 0 && ulAddr != 0)
        return {ulAddr};
    std::vector<uint32_t> addrs;
    plat::ListLocalIPv4(addrs);  // empty on failure: nothing to name
    return addrs;
}

std::string StbAddressLines(const std::vector<uint32_t>& addrs, uint16_t usPort)
{
    const std::string strPort = std::to_string(usPort);
    if (addrs.empty())
        return "STBs cannot reach this computer yet: it has no network address but loopback (port " + strPort +
               ")\n";
    std::string strLines;
    for (uint32_t ulAddr : addrs) {
        char szAddr[kIPv4TextBytes];
        FormatIPv4(ulAddr, szAddr);
        strLines += std::string("STBs reach this computer at ") + szAddr + " port " + strPort + "\n";
    }
    return strLines;
}
