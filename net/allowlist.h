// Which hosts may connect: IPv4 addresses and CIDR prefixes, as the daemon's --allow
// option and the settings key Allow give them. Pure text and numbers, no sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The private, link-local, carrier-grade NAT and loopback ranges: the home network and
// this computer, nothing beyond.
extern const char* const g_pszDefaultAllow;

constexpr int kMaxAllowRanges = 64;
constexpr size_t kIPv4TextBytes = 16;  // "255.255.255.255" and its terminator

// A dotted IPv4 address ("192.168.1.5": four decimal parts of 0..255, no leading zeros)
// in host byte order. 0, or -1 when the text is not one. pszEnd, when not null, ends the
// text instead of its terminator.
int ParseIPv4(const char* pszText, uint32_t& ulAddr, const char* pszEnd = nullptr);
// The dotted form of an address in host byte order.
void FormatIPv4(uint32_t ulAddr, char (&szText)[kIPv4TextBytes]);

class CAllowList {
public:
    // Starts as the default list.
    CAllowList();

    // Takes a comma-separated list of addresses ("10.0.0.7") and prefixes
    // ("192.168.1.0/24"; bits below the prefix are ignored), with blanks allowed around each
    // entry, or "all". 0, or -1 leaving the list unchanged when an entry is malformed, an
    // entry is empty, or there are more than kMaxAllowRanges.
    int Parse(const char* pszList);
    // True when a peer of this address (host byte order) may connect.
    bool Allows(uint32_t ulAddr) const;
    // The list in the form Parse takes: "all" when one of its ranges takes every address,
    // else each range as "a.b.c.d/bits" (a single address with "/32"), separated by
    // commas, in the order given.
    std::string Text() const;

private:
    struct Range {
        uint32_t ulNet = 0;
        uint32_t ulMask = 0;
    };
    Range m_Ranges[kMaxAllowRanges];
    int m_nRanges = 0;
};
