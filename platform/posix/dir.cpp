#include "platform/dir.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/beneath.h"

namespace plat {

const size_t kMaxPathBytes = PATH_MAX;

namespace {

inline unsigned char Fold(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

// Fills the type and size of one entry of the open folder; false when it is gone. A
// link is followed beneath the share only.
bool LookUp(const CShare& share, const std::string& strDir, int dfd, const char* pszName, FindEntry& e)
{
    struct stat st;
    if (fstatat(dfd, pszName, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    e.bLink = S_ISLNK(st.st_mode);
    struct stat target;
    if (e.bLink) {
        CFd fd(OpenBeneath(share, strDir + "/" + pszName, O_PATH));
        if (fd.Ok() && fstat(fd.Get(), &target) == 0)
            st = target;
    }
    e.bDir = S_ISDIR(st.st_mode);
    e.ullSize = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    return true;
}

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

// Opens the folder beneath the share for reading its entries; null when it cannot be.
static DIR* OpenFolder(const CShare& share, const std::string& strDir)
{
    int dfd = OpenBeneath(share, strDir, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    if (dfd < 0)
        return nullptr;
    DIR* pDir = fdopendir(dfd);
    if (pDir == nullptr)
        close(dfd);
    return pDir;
}

int ReadDirectory(const CShare& share, const std::string& strDir, bool bSizes,
                  const std::function<void(FindEntry& entry)>& fnEntry)
{
    DIR* pDir = OpenFolder(share, strDir);
    if (pDir == nullptr)
        return -1;
    const int dfd = dirfd(pDir);
    FindEntry e;
    while (dirent* pEnt = readdir(pDir)) {
        e = FindEntry{};
        e.strName = pEnt->d_name;
        if (!bSizes && (pEnt->d_type == DT_DIR || pEnt->d_type == DT_REG)) {
            e.bDir = pEnt->d_type == DT_DIR;
        } else if (!LookUp(share, strDir, dfd, pEnt->d_name, e)) {
            continue;  // vanished between the read and the look-up
        }
        fnEntry(e);
    }
    closedir(pDir);
    return 0;
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

int MeasureDirectory(const CShare& share, const std::string& strDir, uint64_t& ullCount, uint64_t& ullNameBytes)
{
    ullCount = ullNameBytes = 0;
    DIR* pDir = OpenFolder(share, strDir);
    if (pDir == nullptr)
        return -1;
    while (dirent* pEnt = readdir(pDir)) {
        ++ullCount;
        ullNameBytes += strlen(pEnt->d_name);
    }
    closedir(pDir);
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
