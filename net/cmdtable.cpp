#include "net/cmdtable.h"

#include <iterator>

#include "fs/copymove.h"
#include "fs/listing.h"
#include "fs/manage.h"
#include "fs/sizes.h"
#include "fs/stbquery.h"
#include "net/protocol.h"
#include "net/ver.h"
#include "xfer/dirdown.h"
#include "xfer/dirup.h"
#include "xfer/download.h"
#include "xfer/upload.h"

namespace {

// Main loop. Paired bytes share a handler; the handler reads the request byte for the
// reply byte and the block size.
const CmdEntry kMainTable[] = {
    {FC_SESS_CLOSE, "FC_SESS_CLOSE", HandleSessClose},
    {FC_FILE_DN_REQ, "FC_FILE_DN_REQ", HandleFileDnReq},
    {FC_FILE_DN_REQ_ALT, "FC_FILE_DN_REQ", HandleFileDnReq},
    {FC_DATA_REQ_SMALL, "FC_DATA_REQ", HandleDataReq},
    {FC_DATA_REQ_LARGE, "FC_DATA_REQ", HandleDataReq},
    {FC_DIR_REQ, "FC_DIR_REQ", HandleDirReq},
    {FC_FILE_DEL_REQ, "FC_FILE_DEL_REQ", HandleFileDelReq},
    {FC_MKDIR_REQ, "FC_MKDIR_REQ", HandleMkdirReq},
    {FC_RMDIR_REQ, "FC_RMDIR_REQ", HandleRmdirReq},
    {FC_FILE_CPY_REQ, "FC_FILE_CPY_REQ", HandleFileCpyReq},
    {FC_FILE_MOV_REQ, "FC_FILE_MOV_REQ", HandleFileMovReq},
    {FC_FILE_UP_REQ, "FC_FILE_UP_REQ", HandleFileUpReq},
    {FC_FILE_UP_REQ_ALT, "FC_FILE_UP_REQ", HandleFileUpReq},
    {FC_DATA_UP_REQ, "FC_DATA_UP_REQ", HandleDataUpReq},
    {FC_DATA_UP_REQ_ALT, "FC_DATA_UP_REQ", HandleDataUpReq},
    {FC_DISK_SIZE_REQ, "FC_DISK_SIZE_REQ", HandleDiskSizeReq},
    {FC_FILE_SIZE_REQ, "FC_FILE_SIZE_REQ", HandleFileSizeReq},
    {FC_VER_REQ, "FC_VER_REQ", HandleVerReq},
    {FC_MODEL_VER_REQ, "FC_MODEL_VER_REQ", HandleModelVerReq},
    {FC_DIR_DN_REQ, "FC_DIR_DN_REQ", HandleDirDnReq},
    {FC_DIR_UP_REQ, "FC_DIR_UP_REQ", HandleDirUpReq},
    {FC_BIGFILE_DATA_REQ_LARGE, "FC_BIGFILE_DATA_REQ", HandleBigDataReq},
    {FC_BIGFILE_DATA_REQ_SMALL, "FC_BIGFILE_DATA_REQ", HandleBigDataReq},
    {FC_BIGFILE_UP_REQ, "FC_BIGFILE_UP_REQ", HandleBigFileUpReq},
    {FC_BIGFILE_UP_REQ_ALT, "FC_BIGFILE_UP_REQ", HandleBigFileUpReq},
    {FC_BIGFILE_DATA_UP_REQ, "FC_BIGFILE_DATA_UP_REQ", HandleBigDataUpReq},
    {FC_BIGFILE_DATA_UP_REQ_ALT, "FC_BIGFILE_DATA_UP_REQ", HandleBigDataUpReq},
};

// Directory download sub-loop.
const CmdEntry kDirDownTable[] = {
    {RS_FILE_DN_REQ, "RS_FILE_DN_REQ", HandleRsFileDnReq},
    {RS_DATA_REQ_SMALL, "RS_DATA_REQ", HandleRsDataReq},
    {RS_DATA_REQ_LARGE, "RS_DATA_REQ", HandleRsDataReq},
    {RS_AFTER_MOVE_REQ, "RS_AFTER_MOVE_REQ", HandleRsAfterMoveReq},
};

// Directory upload sub-loop.
const CmdEntry kDirUpTable[] = {
    {RS_FILE_UP_REQ, "RS_FILE_UP_REQ", HandleRsFileUpReq},
    {RS_DATA_UP_REQ, "RS_DATA_UP_REQ", HandleRsDataUpReq},
};

template <size_t N>
const CmdEntry* Find(const CmdEntry (&table)[N], uint8_t ucRequest)
{
    for (const CmdEntry& e : table)
        if (e.ucRequest == ucRequest)
            return &e;
    return nullptr;
}

}  // namespace

const CmdEntry* FindCommand(CmdLoop loop, uint8_t ucRequest)
{
    switch (loop) {
    case CmdLoop::Main:
        return Find(kMainTable, ucRequest);
    case CmdLoop::DirDown:
        return Find(kDirDownTable, ucRequest);
    case CmdLoop::DirUp:
        return Find(kDirUpTable, ucRequest);
    }
    return nullptr;
}
