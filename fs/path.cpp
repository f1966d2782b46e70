#include "fs/path.h"

#include <cstring>

#include "app/settings.h"
#include "net/sess.h"
#include "platform/file.h"
#include "platform/volume.h"

namespace {

inline bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// True when one component of the path, split at both separators, is "..".
bool HasParentComponent(const char* psz)
{
    const char* pStart = psz;
    for (const char* p = psz;; ++p) {
        if (*p == '\0' || IsSeparator(*p)) {
            if (p - pStart == 2 && pStart[0] == '.' && pStart[1] == '.')
                return true;
            if (*p == '\0')
                return false;
            pStart = p + 1;
        }
    }
}

}  // namespace

int GetLocalPath(char* pszStbPath, std::string& strLocal) { return GetLocalPathIn(GetSharedFolder(), pszStbPath, strLocal); }

int MapStbPath(const CSess& sess, char* pszStbPath, std::string& strLocal, plat::CShare& share)
{
    std::string strShared = GetSharedFolder();
    if (GetLocalPathIn(strShared, pszStbPath, strLocal) != 0)
        return -1;
    share.strRoot = std::move(strShared);
    share.bWideLinks = sess.m_bWideLinks;
    return 0;
}

int GetLocalPathIn(const std::string& strShared, char* pszStbPath, std::string& strLocal)
{
    strLocal.clear();
    // Nothing stored would map onto the file-system root; a ".." would climb out of the
    // shared folder. Both are refused so that an STB only ever reaches the shared folder.
    if (strShared.empty() || HasParentComponent(pszStbPath))
        return -1;
    if (pszStbPath[0] == '\\')
        pszStbPath[0] = '/';
    const char* pRest = pszStbPath[0] == '/' ? pszStbPath + 1 : pszStbPath;
    strLocal.reserve(strShared.size() + 1 + strlen(pRest));
    strLocal = strShared;
    strLocal += '/';
    strLocal += pRest;
    SlashToBackslash(strLocal);
    return 0;
}

void SlashToBackslash(std::string& strPath)
{
    for (char& c : strPath)
        if (c == '\\')
            c = '/';
}

void SetBaseDir(CSess& sess, const std::string& strPath)
{
    size_t nSlash = strPath.rfind('/');
    sess.m_strBaseDir = nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1);
}

std::string GetBaseDir(const CSess& sess) { return sess.m_strBaseDir; }

std::string GetRelativePath(const CSess& sess, const std::string& strPath)
{
    size_t n = sess.m_strBaseDir.size();
    return strPath.size() > n ? strPath.substr(n) : std::string();
}

bool HasFreeSpace(uint64_t ullBytes) { return HasFreeSpace(plat::CShare{GetSharedFolder()}, ullBytes); }

bool HasFreeSpace(const plat::CShare& share, uint64_t ullBytes)
{
    plat::VolumeSpace space;
    if (share.strRoot.empty() || plat::GetVolumeSpace(share.strRoot, space) != 0)
        return false;
    return ullBytes < space.ullFreeBytes;
}

bool IsDirectoryPath(const plat::CShare& share, const std::string& strPath)
{
    plat::PathInfo info;
    return plat::GetPathInfo(share, strPath, info) == 0 && info.bDir;
}
