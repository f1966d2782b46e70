// The listing order and name matching of both platforms, on top of their ReadDirectory.
#include <algorithm>
#include <cstring>

#include "platform/dir.h"

namespace plat {

namespace {

// a-z folded onto A-Z; every other byte as it is.
inline unsigned char Fold(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

}  // namespace

bool FoldedNameLess(std::string_view a, std::string_view b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = Fold(static_cast<unsigned char>(a[i]));
        unsigned char cb = Fold(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return std::memcmp(a.data(), b.data(), n) < 0;
}

int EnumDirectory(const CShare& share, const std::string& strDir, std::vector<FindEntry>& entries, bool bSizes)
{
    entries.clear();
    std::vector<FindEntry> others;
    FindEntry dot, dotdot;
    bool bDot = false, bDotDot = false;
    const int rc = ReadDirectory(share, strDir, bSizes, [&](FindEntry& e) {
        if (e.strName == ".") {
            dot = std::move(e);
            bDot = true;
        } else if (e.strName == "..") {
            dotdot = std::move(e);
            bDotDot = true;
        } else {
            others.push_back(std::move(e));
        }
    });
    if (rc != 0)
        return -1;
    std::sort(others.begin(), others.end(),
              [](const FindEntry& a, const FindEntry& b) { return FoldedNameLess(a.strName, b.strName); });
    entries.reserve(others.size() + 2);
    if (bDot)
        entries.push_back(std::move(dot));
    if (bDotDot)
        entries.push_back(std::move(dotdot));
    for (FindEntry& e : others)
        entries.push_back(std::move(e));
    return 0;
}

bool MatchPattern(const char* pszName, const char* pszPattern)
{
    // Iterative wildcard match with one back-track point for the last '*'.
    const char* pStar = nullptr;
    const char* pResume = nullptr;
    while (*pszName != '\0') {
        if (*pszPattern == '*') {
            pStar = pszPattern++;
            pResume = pszName;
        } else if (*pszPattern == '?' ||
                   (*pszPattern != '\0' && Fold(static_cast<unsigned char>(*pszPattern)) ==
                                               Fold(static_cast<unsigned char>(*pszName)))) {
            ++pszPattern;
            ++pszName;
        } else if (pStar != nullptr) {
            pszPattern = pStar + 1;
            pszName = ++pResume;
        } else {
            return false;
        }
    }
    while (*pszPattern == '*')
        ++pszPattern;
    return *pszPattern == '\0';
}

}  // namespace plat
