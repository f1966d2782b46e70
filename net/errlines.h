// The "E ip <n>" diagnostic lines: one entry for each place in the handlers that prints
// one, named for its request and what happened there, with its number. The numbers are
// fixed (logs are read and compared by them): a new place takes a new number, and no
// number ever moves to another place. Most say that a handler released what an earlier
// transfer left behind (a buffer still held in pBin, a transfer file still open in hFile)
// before a new transfer.
#pragma once

enum class ErrLine : int {
    DirListHeldBuffer = 945,        // FC_DIR_REQ
    FileDnHeldBuffer = 1041,        // FC_FILE_DN_REQ
    FileDnHeldFile = 1049,
    FileSizeHeldBuffer = 1152,      // FC_FILE_SIZE_REQ
    FileSizeHeldFile = 1160,
    RsFileDnHeldBuffer = 1364,      // RS_FILE_DN_REQ
    RsFileDnHeldFile = 1372,
    RsFileDnOpenFailed = 1379,      // the entry's file could not be opened
    RsFileDnShortRead = 1404,       // the entry's file read short into memory (status 4)
    RsAfterMoveHeldBuffer = 1557,   // RS_AFTER_MOVE_REQ
    RsAfterMoveHeldFile = 1565,
    RsFolderUpFailed = 1638,        // RS_FILE_UP_REQ: a folder entry could not be made
    RsFileUpHeldFile = 1649,        // RS_FILE_UP_REQ, a file entry
    RsFileUpFailed = 1655,          // the entry's file could not be created
    RsFileUpHeldBuffer = 1669,
    RsFileUpBuffered = 1677,        // the entry's file is collected in memory
    RsDataUpDirectEnd = 1758,       // RS_DATA_UP_REQ: a direct upload's file is complete, before it is closed
    FileUpHeldFile = 1889,          // FC_FILE_UP_REQ
    FileUpHeldBuffer = 1908,
    BigFileUpHeldFile = 2134,       // FC_BIGFILE_UP_REQ
    BigFileUpHeldBuffer = 2153,
};

// Prints the line of the place: "E ip <n>".
void TraceErrLine(ErrLine eLine);
