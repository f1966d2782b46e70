#include "fs/pathreq.h"

#include "fs/path.h"
#include "net/payload.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/xferctx.h"
#include "platform/file.h"
#include "platform/log.h"

static PathReq TakePath(CSess& sess, CXferCtx& ctx, const char* pszName, std::string& strLocal, const OwnUse* pUse)
{
    if (!sess.m_Packet.EndsWithZero(3)) {
        plat::Trace("invalid param in %s\n", pszName);
        return PathReq::Invalid;
    }
    CPayloadReader request(sess.m_Packet);
    const uint8_t ucTag = request.U8();
    std::string strStbPath = request.Path();
    if ((pUse != nullptr ? MapStbPathFor(sess, ctx, strStbPath.data(), strLocal, *pUse)
                         : MapStbPath(sess, ctx, strStbPath.data(), strLocal)) != 0) {
        plat::Trace("(%x) refused: %s\n", ucTag, strStbPath.c_str());
        return PathReq::Refused;
    }
    plat::Trace("(%x) %s\n", ucTag, strLocal.c_str());
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

PathReq TakeTransferPathRequest(CSess& sess, CXferCtx& ctx, const char* pszName, uint8_t ucReply)
{
    const PathReq eReq = TakePathRequest(sess, ctx, pszName, ctx.strPath);
    if (eReq == PathReq::Invalid)
        SendStatusU32(sess, ucReply, kStatusInvalid, ctx.nXferSize);
    return eReq;
}

bool IsSharedFolderItself(const plat::CShare& share, const std::string& strLocal)
{
    return plat::IsShareRoot(share, strLocal);
}
