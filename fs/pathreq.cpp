#include "fs/pathreq.h"

#include <filesystem>

#include "app/settings.h"
#include "fs/path.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/xferctx.h"
#include "platform/log.h"

static PathReq TakePath(CSess& sess, CXferCtx& ctx, const char* pszName, std::string& strLocal, const OwnUse* pUse)
{
    CPacket& packet = sess.m_Packet;
    uint8_t* p = packet.Payload();
    if (!packet.EndsWithZero(3)) {
        plat::Trace("invalid param in %s\n", pszName);
        return PathReq::Invalid;
    }
    char* pszStbPath = reinterpret_cast<char*>(p + 1);
    if ((pUse != nullptr ? MapStbPathFor(sess, ctx, pszStbPath, strLocal, *pUse)
                         : MapStbPath(sess, ctx, pszStbPath, strLocal)) != 0) {
        plat::Trace("(%x) refused: %s\n", p[0], pszStbPath);
        return PathReq::Refused;
    }
    plat::Trace("(%x) %s\n", p[0], strLocal.c_str());
    return PathReq::Ok;
}

PathReq TakePathRequest(CSess& sess, CXferCtx& ctx, const char* pszName, std::string& strLocal)
{
    return TakePath(sess, ctx, pszName, strLocal, nullptr);
}

PathReq TakePathRequest(CSess& sess, CXferCtx& ctx, const char* pszName, std::string& strLocal, OwnUse use)
{
    return TakePath(sess, ctx, pszName, strLocal, &use);
}

PathReq TakeTransferPathRequest(CSess& sess, CXferCtx& ctx, const char* pszName, uint8_t ucReply, int nBinLine,
                                int nFileLine)
{
    const PathReq eReq = TakePathRequest(sess, ctx, pszName, ctx.strPath);
    if (eReq == PathReq::Invalid)
        SendStatusU32(sess, ucReply, kStatusInvalid, ctx.nXferSize);
    else
        ctx.ReleaseEarlier(nBinLine, nFileLine);
    return eReq;
}

// The path with "." and empty components dropped, in the generic form ('/' between names,
// whatever the local separator is) and without trailing separators. The bytes are taken
// as UTF-8, so that no name is changed on the way (the local form of a path on Windows
// would go through the ANSI code page).
static std::string Normalised(const std::string& str)
{
    const std::u8string u8str =
        std::filesystem::path(std::u8string(str.begin(), str.end())).lexically_normal().generic_u8string();
    std::string strNorm(u8str.begin(), u8str.end());
    while (strNorm.size() > 1 && strNorm.back() == '/')
        strNorm.pop_back();
    return strNorm;
}

bool IsSharedFolderItself(const std::string& strLocal)
{
    std::string strShared = GetSharedFolder();
    return !strShared.empty() && Normalised(strLocal) == Normalised(strShared);
}
