#include "fs/manage.h"

#include "fs/path.h"
#include "fs/pathreq.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/xferctx.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/tree.h"

namespace {

using PathChange = int (*)(const plat::CShare& share, const std::string& strPath);

// A request of one path that makes one change, answered by one status byte: invalid,
// failed (refused, read-only, or the change failed), or done.
CmdNext ChangePath(CSess& sess, CXferCtx& ctx, const char* pszName, uint8_t ucReply, PathChange pfnChange)
{
    plat::Trace("%s(%lx)\n", pszName, sess.Id());
    PathReq eReq = TakePathRequest(sess, ctx, pszName, ctx.strPath, OwnUse::Open);
    uint8_t ucStatus = kStatusInvalid;
    if (eReq != PathReq::Invalid)
        ucStatus = (eReq == PathReq::Ok && !ctx.options.bReadOnly && pfnChange(ctx.share, ctx.strPath) == 0) ? kStatusDone
                                                                                                     : kStatusFailed;
    SendStatus(sess, ucReply, ucStatus);
    return CmdNext::Continue;
}

}  // namespace

CmdNext HandleFileDelReq(CSess& sess, CXferCtx& ctx)
{
    return ChangePath(sess, ctx, "FC_FILE_DEL_REQ", FC_FILE_DEL_REP,
                      [](const plat::CShare& share, const std::string& strPath) {
                          return plat::DeleteFile(share, strPath);
                      });
}

CmdNext HandleMkdirReq(CSess& sess, CXferCtx& ctx)
{
    return ChangePath(sess, ctx, "FC_MKDIR_REQ", FC_MKDIR_REP,
                      [](const plat::CShare& share, const std::string& strPath) {
                          return plat::MakeDirectory(share, strPath);
                      });
}

CmdNext HandleRmdirReq(CSess& sess, CXferCtx& ctx)
{
    plat::Trace("FC_RMDIR_REQ(%lx)\n", sess.Id());
    PathReq eReq = TakePathRequest(sess, ctx, "FC_RMDIR_REQ", ctx.strPath, OwnUse::Change);
    uint8_t ucStatus = kStatusInvalid;
    if (eReq == PathReq::Refused || (eReq == PathReq::Ok && plat::LeadsOutOfShare(ctx.share, ctx.strPath))) {
        ucStatus = kStatusFailed;
    } else if (eReq == PathReq::Ok) {
        // The shared folder itself is never wiped, however the path reaches it: the
        // folder the user chose stays.
        const bool bDone = !ctx.options.bReadOnly && !IsSharedFolderItself(ctx.share, ctx.strPath) &&
                           plat::DeleteTree(ctx.share, ctx.strPath) == 0;
        ucStatus = bDone ? kStatusDone : kStatusFailed;
    }
    SendStatus(sess, FC_RMDIR_REP, ucStatus);
    return CmdNext::Continue;
}
