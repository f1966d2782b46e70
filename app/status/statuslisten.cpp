#include "app/status/statuslisten.h"

#include <charconv>
#include <cstring>

#include "net/allowlist.h"

const char* const g_pszDefaultStatusListen = "127.0.0.1:2009";
const char* const g_pszStatusListenForm = "an IPv4 address and a port such as 127.0.0.1:2009, or off";

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

std::string StatusListenText(const CStatusListen& listen)
{
    if (listen.bOff)
        return "off";
    char szAddr[kIPv4TextBytes];
    FormatIPv4(listen.ulAddr, szAddr);
    return std::string(szAddr) + ":" + std::to_string(listen.usPort);
}
