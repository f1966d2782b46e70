// Moving file bytes: a download range as a checked stream of data frames, and an upload
// as blocks that the daemon acknowledges one by one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "net/frame.h"

class CProgress;
class CStbConn;

// Bytes asked for by one data request of a download.
constexpr uint64_t kRangeBytes = 8u << 20;

// Data bytes per upload frame: a whole frame's payload less the offset field.
constexpr size_t kUpBlock32 = kMaxPayload - 4;
constexpr size_t kUpBlock64 = kMaxPayload - 8;

enum class XferResult {
    Done,
    Refused,      // the daemon sent an error frame or took nothing of a block
    LocalFailed,  // the local file could not be read or written
    ConnFailed,   // the connection failed, timed out or carried a frame out of step
};

// The exit status for a result.
int ExitFor(XferResult eResult);

// Where downloaded bytes go, in order.
class CByteSink {
public:
    virtual ~CByteSink() = default;
    // False when the bytes could not be stored (Error() says why).
    virtual bool Write(const uint8_t* pBytes, size_t nCount) = 0;
    virtual std::string Error() const = 0;
};

class CMemSink : public CByteSink {
public:
    bool Write(const uint8_t* pBytes, size_t nCount) override;
    std::string Error() const override { return "out of memory"; }
    const std::vector<uint8_t>& Bytes() const { return m_Bytes; }

private:
    std::vector<uint8_t> m_Bytes;
};

// A data request and the data frames that answer it.
struct CDataKind {
    uint8_t ucRequest;
    uint8_t ucReply;
    int nWidth;     // bytes of the offset and size fields: 4 or 8
    size_t nBlock;  // data bytes of every full frame
};

// FC_DATA_REQ (bBig false) or FC_BIGFILE_DATA_REQ, with small or large frames.
CDataKind FileDataKind(bool bBig, bool bSmallFrames);
// RS_DATA_REQ of the directory download.
CDataKind DirDataKind(bool bSmallFrames);

// Fetches ullCount bytes from ullOffset. ullCount must be what the daemon serves after
// clamping the range to the size it recorded, so exactly that many bytes must arrive: each
// frame is checked for its reply byte, its offset and its length, and a short stream is a
// failure, never a short result. Asks for at most 8 MiB per request. On failure strWhy
// says what happened.
XferResult FetchRange(CStbConn& conn, const CDataKind& kind, uint64_t ullOffset, uint64_t ullCount, CByteSink& sink,
                      CProgress* pProgress, std::string& strWhy);

// An upload data request and its reply.
struct CUpKind {
    uint8_t ucRequest;
    uint8_t ucReply;
    int nWidth;
    size_t nBlock;
};

// Sends ullSize bytes read from the file's current position as blocks, checking that each
// reply names the block's offset and takes all of it. An empty file still gets one empty
// block: the daemon answers it with nothing taken, which is then all there was.
XferResult SendBlocks(CStbConn& conn, const CUpKind& kind, FILE* pFile, uint64_t ullSize, CProgress* pProgress,
                      std::string& strWhy);
