// File download: FC_FILE_DN_REQ opens a file, FC_DATA_REQ and FC_BIGFILE_DATA_REQ fetch
// byte ranges of it (or of a listing held in memory) as streams of data frames.
#pragma once

#include <cstdint>
#include <string>

#include "net/cmdtable.h"
#include "net/protocol.h"

// Files up to this size are read whole into memory when opened for download.
constexpr uint64_t kMaxBufferedFile = 10485760;

// FC_FILE_DN_REQ: opens the file as the session's transfer and answers its size in the
// width FileSizeWidth gives it.
CmdNext HandleFileDnReq(CSess& sess, CXferCtx& ctx);
// FC_DATA_REQ and FC_BIGFILE_DATA_REQ: a range of the transfer, 32-bit and 64-bit.
CmdNext HandleDataReq(CSess& sess, CXferCtx& ctx);
CmdNext HandleBigDataReq(CSess& sess, CXferCtx& ctx);

struct CRangeReq {
    uint64_t ullOffset;  // requested start offset
    uint64_t ullSize;    // requested byte count
    uint64_t ullLimit;   // size to clamp against
    int nBlock;          // data bytes per full frame
    int nWidth;          // bytes of the offset field: 4 or 8
    uint8_t ucReply;     // reply byte of every frame
};

// How an opened download was announced.
enum class DnForm {
    Failed,  // the file could not be opened: status 1
    Short,   // 32-bit size (FileSizeWidth): nXferSize recorded, status 0 or 4
    Long,    // 64-bit size (FileSizeWidth): ullXferSize recorded, file kept open
};

// Opens the path as the session's transfer, the earlier one already released. Files up
// to 10 MiB are read whole into memory and closed; larger ones stay open. A short read
// gives status 4 with nothing held.
DnForm OpenDownload(CXferCtx& ctx, const std::string& strPath, uint8_t& ucStatus);

// Serves one data request as a stream of data frames, each led by its offset, with a
// 1 ms pause after every full block; no acknowledgement is awaited. The data comes from
// the held buffer, else from the open transfer file. A request past the end, of size 0,
// or with nothing held gets one error frame carrying only the requested offset. The
// stream ends early when a send or a file read fails.
void SendRange(CSess& sess, CXferCtx& ctx, const CRangeReq& req);

// Serves a data request whose payload is an offset and a count of the width each,
// clamped by the rule of the two widths. A payload of another length is logged with
// "invalid param in <name>" and served as read (missing bytes as 0).
void ServeDataRequest(CSess& sess, CXferCtx& ctx, SizeWidth width, int nBlock, uint8_t ucReply, const char* pszName);
