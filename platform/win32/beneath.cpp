#include "platform/win32/beneath.h"

#include <vector>

namespace plat {

namespace {

inline bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

// Splits the text after a path's root into components; false for ".." or a ':'.
bool AppendComponents(std::wstring_view rest, std::wstring& wstrOut)
{
    size_t i = 0;
    while (i <= rest.size()) {
        size_t j = i;
        while (j < rest.size() && !IsSep(rest[j]))
            ++j;
        const std::wstring_view comp = rest.substr(i, j - i);
        if (comp == L"..")
            return false;
        if (!comp.empty() && comp != L".") {
            if (comp.find(L':') != std::wstring_view::npos)
                return false;
            if (!wstrOut.empty() && wstrOut.back() != L'\\')
                wstrOut += L'\\';
            wstrOut.append(comp);
        }
        i = j + 1;
    }
    return true;
}

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "X:\" at the start.
bool HasDriveRoot(std::wstring_view w) { return w.size() >= 3 && IsDriveLetter(w[0]) && w[1] == L':' && IsSep(w[2]); }

bool ContainsParentComponent(std::wstring_view w)
{
    size_t i = 0;
    while (i <= w.size()) {
        size_t j = i;
        while (j < w.size() && !IsSep(w[j]))
            ++j;
        if (w.substr(i, j - i) == L"..")
            return true;
        i = j + 1;
    }
    return false;
}

inline bool IsSepByte(char c) { return c == '/' || c == '\\'; }

// The part of a local path below the share's root, or false when it does not begin with
// the root ("C:\media2" does not lie in "C:\media"). The mapping may have turned the
// root's separators into the other kind: both count as one.
bool RelativeToRoot(const CShare& share, const std::string& strPath, std::string& strRel)
{
    const std::string& strRoot = share.strRoot;
    if (strRoot.empty() || strPath.size() < strRoot.size())
        return false;
    for (size_t i = 0; i < strRoot.size(); ++i) {
        if (strPath[i] != strRoot[i] && !(IsSepByte(strPath[i]) && IsSepByte(strRoot[i])))
            return false;
    }
    const size_t i = strRoot.size();
    if (i < strPath.size() && !IsSepByte(strPath[i]) && !IsSepByte(strRoot.back()))
        return false;
    strRel.assign(strPath, i, std::string::npos);
    return true;
}

// The components of a path below the root, "." and empty ones dropped; false for "..", a
// ':' or bytes that are not UTF-8.
bool RelativeComponents(const std::string& strRel, std::vector<std::wstring>& comps)
{
    comps.clear();
    std::wstring wstrRel;
    if (!Utf8ToWide(strRel, wstrRel))
        return false;
    size_t i = 0;
    while (i <= wstrRel.size()) {
        size_t j = i;
        while (j < wstrRel.size() && !IsSep(wstrRel[j]))
            ++j;
        std::wstring comp = wstrRel.substr(i, j - i);
        if (comp == L".." || comp.find(L':') != std::wstring::npos)
            return false;
        if (!comp.empty() && comp != L".")
            comps.push_back(std::move(comp));
        i = j + 1;
    }
    return true;
}

void AppendName(std::wstring& wstrPath, const std::wstring& wstrName)
{
    if (!wstrPath.empty() && wstrPath.back() != L'\\')
        wstrPath += L'\\';
    wstrPath += wstrName;
}

// Opens what the first n components name below the root's final path, as CreateFileW
// opens it; what it opened must lie in the shared folder unless links lead anywhere.
int OpenComponents(const CShare& share, const std::wstring& wstrRootFinal, const std::vector<std::wstring>& comps,
                   size_t n, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition, DWORD dwFlags, CHandle& hOut)
{
    std::wstring wstrPath = wstrRootFinal;
    for (size_t i = 0; i < n; ++i)
        AppendName(wstrPath, comps[i]);
    CHandle h(CreateFileW(wstrPath.c_str(), dwAccess, dwShare, nullptr, dwDisposition, dwFlags, nullptr));
    if (!h.Ok())
        return kNotFound;
    std::wstring wstrFinal;
    if (!share.bWideLinks && (!FinalPathOf(h.Get(), wstrFinal) || !IsBelow(wstrRootFinal, wstrFinal)))
        return kOutOfShare;
    hOut = std::move(h);
    return 0;
}

// Opens the root's folder or the folder below it named by the first n components.
int OpenFolderBeneath(const CShare& share, const std::wstring& wstrRootFinal, const std::vector<std::wstring>& comps,
                      size_t n, CHandle& hOut)
{
    return OpenComponents(share, wstrRootFinal, comps, n, FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, hOut);
}

}  // namespace

bool ToWinPath(const std::string& strPath, std::wstring& wstrOut)
{
    wstrOut.clear();
    std::wstring w;
    if (strPath.empty() || !Utf8ToWide(strPath, w))
        return false;
    std::wstring_view rest(w);
    std::wstring wstrFull;
    // The extended-length prefix of a UNC path (the leading separators or "UNC" and its
    // separator taken off rest) or of a drive's root ("C:" and its separator).
    auto takeUnc = [&](size_t nPrefix) {
        wstrOut = L"\\\\?\\UNC\\";
        rest.remove_prefix(nPrefix);
    };
    auto takeDrive = [&] {
        wstrOut = L"\\\\?\\";
        wstrOut.append(rest.substr(0, 2));
        wstrOut += L'\\';
        rest.remove_prefix(3);
    };
    if (rest.size() >= 4 && IsSep(rest[0]) && IsSep(rest[1]) && rest[2] == L'?' && IsSep(rest[3])) {
        rest.remove_prefix(4);  // already extended-length
        if (rest.size() >= 4 && (rest.substr(0, 3) == L"UNC" || rest.substr(0, 3) == L"unc") && IsSep(rest[3]))
            takeUnc(4);
        else if (HasDriveRoot(rest))
            takeDrive();
        else
            return false;
    } else if (rest.size() >= 2 && IsSep(rest[0]) && IsSep(rest[1])) {
        takeUnc(2);
    } else if (HasDriveRoot(rest)) {
        takeDrive();
    } else {
        // Relative, or relative to a drive: the system makes it whole first. ".." is
        // refused before it could climb anywhere.
        if (ContainsParentComponent(rest))
            return false;
        const DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
        if (n == 0)
            return false;
        wstrFull.resize(n);
        const DWORD m = GetFullPathNameW(w.c_str(), n, wstrFull.data(), nullptr);
        if (m == 0 || m >= n)
            return false;
        wstrFull.resize(m);
        if (HasDriveRoot(wstrFull) || (wstrFull.size() >= 2 && IsSep(wstrFull[0]) && IsSep(wstrFull[1])))
            return ToWinPath(WideToUtf8(wstrFull), wstrOut);
        return false;
    }
    std::wstring wstrTail;
    if (!AppendComponents(rest, wstrTail)) {
        wstrOut.clear();
        return false;
    }
    wstrOut += wstrTail;
    return true;
}

std::wstring PlainWinPath(const std::wstring& wstrPath)
{
    if (wstrPath.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + wstrPath.substr(8);
    if (wstrPath.compare(0, 4, L"\\\\?\\") == 0)
        return wstrPath.substr(4);
    return wstrPath;
}

bool FinalPathOf(HANDLE h, std::wstring& wstrOut)
{
    wstrOut.assign(MAX_PATH, L'\0');
    for (int nTry = 0; nTry < 3; ++nTry) {
        const DWORD n = GetFinalPathNameByHandleW(h, wstrOut.data(), static_cast<DWORD>(wstrOut.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0)
            break;
        if (n < wstrOut.size()) {
            wstrOut.resize(n);
            return true;
        }
        wstrOut.assign(static_cast<size_t>(n) + 1, L'\0');
    }
    wstrOut.clear();
    return false;
}

bool IsBelow(const std::wstring& wstrRoot, const std::wstring& wstrPath)
{
    if (wstrRoot.empty() || wstrPath.size() < wstrRoot.size())
        return false;
    if (CompareStringOrdinal(wstrRoot.data(), static_cast<int>(wstrRoot.size()), wstrPath.data(),
                             static_cast<int>(wstrRoot.size()), TRUE) != CSTR_EQUAL)
        return false;
    return wstrPath.size() == wstrRoot.size() || wstrRoot.back() == L'\\' || wstrPath[wstrRoot.size()] == L'\\';
}

int ShareFinalPath(const CShare& share, std::wstring& wstrOut)
{
    std::wstring wstrRoot;
    if (!ToWinPath(share.strRoot, wstrRoot))
        return kNotFound;
    CHandle h(CreateFileW(wstrRoot.c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Ok() || !FinalPathOf(h.Get(), wstrOut))
        return kNotFound;
    return 0;
}

// The path's components below the shared folder and the folder's final path: what every
// resolution beneath the share starts from. 0, kOutOfShare or kNotFound.
int SplitBeneath(const CShare& share, const std::string& strPath, std::vector<std::wstring>& comps,
                 std::wstring& wstrRootFinal)
{
    std::string strRel;
    if (!RelativeToRoot(share, strPath, strRel))
        return kOutOfShare;
    if (!RelativeComponents(strRel, comps)) {
        SetLastError(ERROR_INVALID_NAME);
        return kNotFound;
    }
    return ShareFinalPath(share, wstrRootFinal) != 0 ? kNotFound : 0;
}

// What is opened is checked afterwards: its final path must lie in the shared folder's.
const char* PathResolutionName() { return "by the final paths of what they open"; }

bool NamesShareItself(const CShare& share, const std::string& strPath)
{
    std::string strRel;
    std::vector<std::wstring> comps;
    return RelativeToRoot(share, strPath, strRel) && RelativeComponents(strRel, comps) && comps.empty();
}

int OpenBeneath(const CShare& share, const std::string& strPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition,
                DWORD dwFlags, CHandle& hOut)
{
    std::vector<std::wstring> comps;
    std::wstring wstrRootFinal;
    if (const int rc = SplitBeneath(share, strPath, comps, wstrRootFinal); rc != 0)
        return rc;
    return OpenComponents(share, wstrRootFinal, comps, comps.size(), dwAccess, dwShare, dwDisposition, dwFlags, hOut);
}

int OpenParentBeneath(const CShare& share, const std::string& strPath, CHandle& hOut)
{
    std::vector<std::wstring> comps;
    std::wstring wstrRootFinal;
    if (const int rc = SplitBeneath(share, strPath, comps, wstrRootFinal); rc != 0)
        return rc;
    // The components drop every "."; the text tells whether the last one was one
    // (trailing separators aside, as Linux ignores them).
    size_t nEnd = strPath.size();
    while (nEnd > 0 && IsSepByte(strPath[nEnd - 1]))
        --nEnd;
    const bool bLastIsDot = nEnd >= 2 && strPath[nEnd - 1] == '.' && IsSepByte(strPath[nEnd - 2]);
    const size_t nHeld = comps.empty() || bLastIsDot ? comps.size() : comps.size() - 1;
    return OpenFolderBeneath(share, wstrRootFinal, comps, nHeld, hOut);
}

int ResolveParent(const CShare& share, const std::string& strPath, std::wstring& wstrOut)
{
    wstrOut.clear();
    std::vector<std::wstring> comps;
    std::wstring wstrRootFinal;
    if (const int rc = SplitBeneath(share, strPath, comps, wstrRootFinal); rc != 0)
        return rc;
    if (comps.empty()) {
        wstrOut = wstrRootFinal;
        return 0;
    }
    CHandle parent;
    const int rc = OpenFolderBeneath(share, wstrRootFinal, comps, comps.size() - 1, parent);
    if (rc != 0)
        return rc;
    if (!FinalPathOf(parent.Get(), wstrOut))
        return kNotFound;
    AppendName(wstrOut, comps.back());
    return 0;
}

bool GetHandleInfo(HANDLE h, HandleInfo& info)
{
    info = HandleInfo{};
    BY_HANDLE_FILE_INFORMATION fi;
    if (!GetFileInformationByHandle(h, &fi))
        return false;
    info.dwAttributes = fi.dwFileAttributes;
    info.ullSize = (static_cast<uint64_t>(fi.nFileSizeHigh) << 32) | fi.nFileSizeLow;
    info.dwVolume = fi.dwVolumeSerialNumber;
    info.ullFileIndex = (static_cast<uint64_t>(fi.nFileIndexHigh) << 32) | fi.nFileIndexLow;
    if ((fi.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        FILE_ATTRIBUTE_TAG_INFO tag;
        if (GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof(tag)))
            info.dwReparseTag = tag.ReparseTag;
    }
    return true;
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                                        static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

int OpenNameItself(const std::wstring& wstrPath, DWORD dwAccess, DWORD dwShare, CHandle& hOut, bool& bItself)
{
    bItself = false;
    CHandle h(CreateFileW(wstrPath.c_str(), dwAccess, dwShare, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.Ok())
        return kNotFound;
    if (GetFileType(h.Get()) != FILE_TYPE_DISK) {
        SetLastError(ERROR_ACCESS_DENIED);
        return kNotFound;
    }
    std::wstring wstrFinal;
    bItself = FinalPathOf(h.Get(), wstrFinal) && SamePath(wstrFinal, wstrPath);
    hOut = std::move(h);
    return 0;
}

}  // namespace plat
