#include "net/cmdtable.h"

#include <iterator>

#include "net/handlers.h"

namespace {

// Main loop. Paired bytes (bit 0x20 set) share a handler; the handler reads the request
// byte for the reply byte and the block size.
const CmdEntry kMainTable[] = {
    {0x00, "FC_SESS_CLOSE", HandleSessClose},
    {0x02, "FC_FILE_DN_REQ", HandleFileDnReq},
    {0x22, "FC_FILE_DN_REQ", HandleFileDnReq},
    {0x03, "FC_DATA_REQ", HandleDataReq},
    {0x23, "FC_DATA_REQ", HandleDataReq},
    {0x07, "FC_DIR_REQ", HandleDirReq},
    {0x08, "FC_FILE_DEL_REQ", HandleFileDelReq},
    {0x09, "FC_MKDIR_REQ", HandleMkdirReq},
    {0x0A, "FC_RMDIR_REQ", HandleRmdirReq},
    {0x0B, "FC_FILE_CPY_REQ", HandleFileCpyReq},
    {0x0C, "FC_FILE_MOV_REQ", HandleFileMovReq},
    {0x0D, "FC_FILE_UP_REQ", HandleFileUpReq},
    {0x2D, "FC_FILE_UP_REQ", HandleFileUpReq},
    {0x0E, "FC_DATA_UP_REQ", HandleDataUpReq},
    {0x2E, "FC_DATA_UP_REQ", HandleDataUpReq},
    {0x0F, "FC_DISK_SIZE_REQ", HandleDiskSizeReq},
    {0x10, "FC_FILE_SIZE_REQ", HandleFileSizeReq},
    {0x11, "FC_VER_REQ", HandleVerReq},
    {0x12, "(model and version query)", HandleModelVerReq},
    {0x13, "FC_DIR_DN_REQ", HandleDirDnReq},
    {0x14, "FC_DIR_UP_REQ", HandleDirUpReq},
    {0x26, "FC_BIGFILE_DATA_REQ", HandleBigDataReq},
    {0x2A, "FC_BIGFILE_DATA_REQ", HandleBigDataReq},
    {0x27, "FC_BIGFILE_UP_REQ", HandleBigFileUpReq},
    {0x2B, "FC_BIGFILE_UP_REQ", HandleBigFileUpReq},
    {0x28, "FC_BIGFILE_DATA_UP_REQ", HandleBigDataUpReq},
    {0x2C, "FC_BIGFILE_DATA_UP_REQ", HandleBigDataUpReq},
};

// Directory download sub-loop.
const CmdEntry kDirDownTable[] = {
    {0x01, "RS_FILE_DN_REQ", HandleRsFileDnReq},
    {0x02, "RS_DATA_REQ", HandleRsDataReq},
    {0x24, "RS_DATA_REQ", HandleRsDataReq},
    {0x19, "RS_AFTER_MOVE_REQ", HandleRsAfterMoveReq},
};

// Directory upload sub-loop.
const CmdEntry kDirUpTable[] = {
    {0x04, "RS_FILE_UP_REQ", HandleRsFileUpReq},
    {0x05, "RS_DATA_UP_REQ", HandleRsDataUpReq},
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
