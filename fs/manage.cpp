// FC_FILE_DEL_REQ, FC_MKDIR_REQ, FC_RMDIR_REQ.
#include "fs/manage.h"

#include <vector>

#include "fs/path.h"
#include "fs/pathreq.h"
#include "net/handlers.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/xferctx.h"
#include "platform/dir.h"
#include "platform/file.h"
#include "platform/log.h"

int DeleteDirTree(const std::string& strFolder)
{
    // A link named as the folder is removed itself: nothing it points to is touched.
    std::string strItself = strFolder;
    while (strItself.size() > 1 && strItself.back() == '/')
        strItself.pop_back();
    plat::PathInfo info;
    if (plat::GetPathInfo(strItself, info) == 0 && info.bLink) {
        plat::DeleteFile(strItself);
        return 0;
    }
    std::vector<plat::FindEntry> entries;
    if (plat::EnumDirectory(strFolder, entries, false) == 0) {
        for (const plat::FindEntry& e : entries) {
            if (e.strName == "." || e.strName == "..")
                continue;
            std::string strPath = strFolder + "/" + e.strName;
            if (e.bDir && !e.bLink)
                DeleteDirTree(strPath);
            else
                plat::DeleteFile(strPath);
        }
    }
    plat::RemoveDirectory(strFolder);
    return 0;
}

CmdNext HandleFileDelReq(CSess& sess, CXferCtx& ctx)
{
    plat::Trace("FC_FILE_DEL_REQ(%lx)\n", sess.Id());
    PathReq eReq = TakePathRequest(sess, "FC_FILE_DEL_REQ", ctx.strPath);
    uint8_t ucStatus = kStatusInvalid;
    if (eReq != PathReq::Invalid)
        ucStatus = (eReq == PathReq::Ok && plat::DeleteFile(ctx.strPath) == 0) ? kStatusDone : kStatusFailed;
    SendStatus(sess, 0xF8, ucStatus);
    return CmdNext::Continue;
}

CmdNext HandleMkdirReq(CSess& sess, CXferCtx& ctx)
{
    plat::Trace("FC_MKDIR_REQ(%lx)\n", sess.Id());
    PathReq eReq = TakePathRequest(sess, "FC_MKDIR_REQ", ctx.strPath);
    uint8_t ucStatus = kStatusInvalid;
    if (eReq != PathReq::Invalid)
        ucStatus = (eReq == PathReq::Ok && plat::MakeDirectory(ctx.strPath) == 0) ? kStatusDone : kStatusFailed;
    SendStatus(sess, 0xF9, ucStatus);
    return CmdNext::Continue;
}

CmdNext HandleRmdirReq(CSess& sess, CXferCtx& ctx)
{
    plat::Trace("FC_RMDIR_REQ(%lx)\n", sess.Id());
    PathReq eReq = TakePathRequest(sess, "FC_RMDIR_REQ", ctx.strPath);
    uint8_t ucStatus = kStatusInvalid;
    if (eReq == PathReq::Refused) {
        ucStatus = kStatusFailed;
    } else if (eReq == PathReq::Ok) {
        // The shared folder itself is never wiped: the folder the user chose stays.
        if (IsSharedFolderItself(ctx.strPath)) {
            ucStatus = kStatusFailed;
        } else {
            DeleteDirTree(ctx.strPath);
            ucStatus = kStatusDone;
        }
    }
    SendStatus(sess, 0xFA, ucStatus);
    return CmdNext::Continue;
}
