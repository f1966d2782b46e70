#include "net/allowlist.h"

#include <bit>
#include <cstdio>
#include <cstring>

const char* const g_pszDefaultAllow =
    "127.0.0.0/8,10.0.0.0/8,172.16.0.0/12,192.168.0.0/16,169.254.0.0/16,100.64.0.0/10";

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A decimal number of at most three digits without a leading zero, no more than nMax.
// The position after it, or null.
const char* ParseSmall(const char* p, const char* pEnd, unsigned nMax, unsigned& nValue)
{
    if (p == pEnd || !IsDigit(*p))
        return nullptr;
    nValue = 0;
    const char* pStart = p;
    while (p != pEnd && IsDigit(*p)) {
        if (p - pStart == 3)
            return nullptr;
        nValue = nValue * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    if ((*pStart == '0' && p - pStart > 1) || nValue > nMax)
        return nullptr;
    return p;
}

}  // namespace

int ParseIPv4(const char* pszText, uint32_t& ulAddr, const char* pszEnd)
{
    if (pszEnd == nullptr)
        pszEnd = pszText + strlen(pszText);
    const char* p = pszText;
    uint32_t ulValue = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (p == pszEnd || *p != '.')
                return -1;
            ++p;
        }
        unsigned nPart = 0;
        p = ParseSmall(p, pszEnd, 255, nPart);
        if (p == nullptr)
            return -1;
        ulValue = (ulValue << 8) | nPart;
    }
    if (p != pszEnd)
        return -1;
    ulAddr = ulValue;
    return 0;
}

void FormatIPv4(uint32_t ulAddr, char (&szText)[kIPv4TextBytes])
{
    snprintf(szText, sizeof(szText), "%u.%u.%u.%u", (ulAddr >> 24) & 0xFF, (ulAddr >> 16) & 0xFF,
             (ulAddr >> 8) & 0xFF, ulAddr & 0xFF);
}

CAllowList::CAllowList()
{
    Parse(g_pszDefaultAllow);
}

int CAllowList::Parse(const char* pszList)
{
    Range ranges[kMaxAllowRanges];
    int nRanges = 0;
    const char* p = pszList;
    for (;;) {
        const char* pComma = strchr(p, ',');
        const char* pEnd = pComma != nullptr ? pComma : p + strlen(p);
        const char* pFirst = p;
        while (pFirst != pEnd && IsBlank(*pFirst))
            ++pFirst;
        const char* pLast = pEnd;
        while (pLast != pFirst && IsBlank(pLast[-1]))
            --pLast;
        if (nRanges == kMaxAllowRanges)
            return -1;
        Range& r = ranges[nRanges++];
        if (pLast - pFirst == 3 && strncmp(pFirst, "all", 3) == 0) {
            r = Range{0, 0};
        } else {
            const char* pSlash = static_cast<const char*>(memchr(pFirst, '/', static_cast<size_t>(pLast - pFirst)));
            unsigned nBits = 32;
            if (pSlash != nullptr && ParseSmall(pSlash + 1, pLast, 32, nBits) != pLast)
                return -1;
            uint32_t ulAddr = 0;
            if (ParseIPv4(pFirst, ulAddr, pSlash != nullptr ? pSlash : pLast) != 0)
                return -1;
            r.ulMask = nBits == 0 ? 0 : ~uint32_t{0} << (32 - nBits);
            r.ulNet = ulAddr & r.ulMask;
        }
        if (pComma == nullptr)
            break;
        p = pComma + 1;
    }
    memcpy(m_Ranges, ranges, sizeof(ranges[0]) * static_cast<size_t>(nRanges));
    m_nRanges = nRanges;
    return 0;
}

bool CAllowList::Allows(uint32_t ulAddr) const
{
    for (int i = 0; i < m_nRanges; ++i) {
        if ((ulAddr & m_Ranges[i].ulMask) == m_Ranges[i].ulNet)
            return true;
    }
    return false;
}

std::string CAllowList::Text() const
{
    std::string strText;
    for (int i = 0; i < m_nRanges; ++i) {
        if (m_Ranges[i].ulMask == 0)
            return "all";
        char szAddr[kIPv4TextBytes];
        FormatIPv4(m_Ranges[i].ulNet, szAddr);
        if (!strText.empty())
            strText += ',';
        strText += szAddr;
        strText += '/';
        strText += std::to_string(std::popcount(m_Ranges[i].ulMask));
    }
    return strText;
}
