#include "fs/path.h"

#include <cstring>

#include "app/ownfiles.h"
#include "app/settings.h"
#include "net/sess.h"
#include "net/xferctx.h"
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

int SelectShare(const CSess& sess, CXferCtx& ctx)
{
    CShareSetting setting = GetShareSetting();
    if (ctx.names.Select(sess.Options().bFixedCharset ? sess.Options().strCharset : setting.strCharset) != 0 ||
        setting.strFolder.empty())
        return -1;
    ctx.share.strRoot = std::move(setting.strFolder);
    ctx.share.bWideLinks = sess.Options().bWideLinks;
    // The daemon's own files go with every share: the list is made afresh only when it
    // changed, and every copy of the share reads it.
    std::vector<std::string> own = DaemonOwnPaths();
    if (own.empty())
        ctx.share.pOwnFiles.reset();
    else if (!ctx.share.pOwnFiles || *ctx.share.pOwnFiles != own)
        ctx.share.pOwnFiles = std::make_shared<const std::vector<std::string>>(std::move(own));
    return 0;
}

int MapStbPath(const CSess& sess, CXferCtx& ctx, char* pszStbPath, std::string& strLocal)
{
    plat::CShare earlier = ctx.share;  // what a refused path leaves in place
    if (SelectShare(sess, ctx) != 0 || MapSecondStbPath(ctx, pszStbPath, strLocal) != 0) {
        ctx.share = std::move(earlier);
        strLocal.clear();
        return -1;
    }
    return 0;
}

int MapSecondStbPath(CXferCtx& ctx, char* pszStbPath, std::string& strLocal)
{
    if (!ctx.names.Converts())
        return GetLocalPathIn(ctx.share.strRoot, pszStbPath, strLocal);
    std::string strDecoded;
    if (ctx.names.ToLocal(pszStbPath, strDecoded) != 0) {
        strLocal.clear();
        return -1;
    }
    return GetLocalPathIn(ctx.share.strRoot, strDecoded.data(), strLocal);
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
    BackslashesToSlashes(strLocal);
    return 0;
}

void BackslashesToSlashes(std::string& strPath)
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
