#include "fs/manage.h"

#include <vector>

#include "fs/path.h"
#include "fs/pathreq.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/xferctx.h"
#include "platform/dir.h"
#include "platform/file.h"
#include "platform/log.h"

int DeleteDirTree(const plat::CShare& share, const std::string& strFolder)
{
    // A link named as the folder is removed itself: nothing it points to is touched.
    std::string strItself = strFolder;
    while (strItself.size() > 1 && strItself.back() == '/')
        strItself.pop_back();
    plat::PathInfo info;
    if (plat::GetPathInfo(share, strItself, info) == 0 && info.bLink) {
        plat::DeleteFile(share, strItself);
        return 0;
    }
    // Each folder is emptied when it is first met and removed when it is met again,
    // after everything below it.
    struct Pending {
        std::string strPath;
        bool bEmptied;
    };
    std::vector<Pending> stack{{strItself, false}};
    std::vector<plat::FindEntry> entries;
    while (!stack.empty()) {
        if (stack.back().bEmptied) {
            plat::RemoveDirectory(share, stack.back().strPath);
            stack.pop_back();
            continue;
        }
        stack.back().bEmptied = true;
        const std::string strDir = stack.back().strPath;
        if (plat::EnumDirectory(share, strDir, entries, false) != 0)
            continue;
        for (const plat::FindEntry& e : entries) {
            if (e.strName == "." || e.strName == "..")
                continue;
            std::string strPath = strDir + "/" + e.strName;
            if (e.bDir && !e.bLink)
                stack.push_back({std::move(strPath), false});
            else
                plat::DeleteFile(share, strPath);
        }
    }
    return 0;
}

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
        ucStatus = (eReq == PathReq::Ok && !ctx.bReadOnly && pfnChange(ctx.share, ctx.strPath) == 0) ? kStatusDone
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
        // The shared folder itself is never wiped: the folder the user chose stays.
        if (ctx.bReadOnly || IsSharedFolderItself(ctx.strPath)) {
            ucStatus = kStatusFailed;
        } else {
            DeleteDirTree(ctx.share, ctx.strPath);
            ucStatus = kStatusDone;
        }
    }
    SendStatus(sess, FC_RMDIR_REP, ucStatus);
    return CmdNext::Continue;
}
