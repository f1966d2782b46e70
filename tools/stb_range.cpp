// Download ranges: data requests and the streams of data frames that answer them.
#include <algorithm>

#include "net/wire.h"
#include "tools/progress.h"
#include "tools/stb_conn.h"
#include "net/protocol.h"
#include "tools/stb_report.h"
#include "tools/stb_xfer.h"

int ExitFor(XferResult eResult)
{
    switch (eResult) {
    case XferResult::Done:
        return kExitDone;
    case XferResult::Refused:
    case XferResult::LocalFailed:
        return kExitFailed;
    case XferResult::ConnFailed:
        break;
    }
    return kExitConn;
}

bool CMemSink::Write(const uint8_t* pBytes, size_t nCount)
{
    m_Bytes.insert(m_Bytes.end(), pBytes, pBytes + nCount);
    return true;
}

CDataKind FileDataKind(bool bBig, bool bSmallFrames)
{
    const size_t nBlock = bSmallFrames ? kSmallBlock : kLargeBlock;
    uint8_t ucRequest;
    if (bBig)
        ucRequest = bSmallFrames ? FC_BIGFILE_DATA_REQ_SMALL : FC_BIGFILE_DATA_REQ_LARGE;
    else
        ucRequest = bSmallFrames ? FC_DATA_REQ_SMALL : FC_DATA_REQ_LARGE;
    return CDataKind{ucRequest, ReplyByte(ucRequest), bBig ? 8 : 4, nBlock};
}

CDataKind DirDataKind(bool bSmallFrames)
{
    if (bSmallFrames)
        return CDataKind{RS_DATA_REQ_SMALL, RS_DATA_REP_SMALL, 4, kSmallBlock};
    return CDataKind{RS_DATA_REQ_LARGE, RS_DATA_REP_LARGE, 4, kLargeBlock};
}

namespace {

XferResult Fail(XferResult eResult, std::string& strWhy, const std::string& str)
{
    strWhy = str;
    return eResult;
}

// Receives the frames of one request for [ullAt, ullStop).
XferResult ReceiveStream(CStbConn& conn, const CDataKind& kind, uint64_t ullAt, uint64_t ullStop, CByteSink& sink,
                         CProgress* pProgress, std::string& strWhy)
{
    const uint64_t ullFirst = ullAt;
    const size_t nWidth = static_cast<size_t>(kind.nWidth);
    while (ullAt < ullStop) {
        CFrameView frame;
        if (conn.Receive(frame) != 0)
            return Fail(XferResult::ConnFailed, strWhy, conn.Error());
        if (frame.ucCommand != kind.ucReply)
            return Fail(XferResult::ConnFailed, strWhy,
                        "the daemon sent frame " + HexByte(frame.ucCommand) + " where data frame " +
                            HexByte(kind.ucReply) + " was due");
        if (frame.nPayload < nWidth)
            return Fail(XferResult::ConnFailed, strWhy, "the daemon sent a data frame without its offset");
        const uint64_t ullFrameAt = GetLE(frame.pPayload, kind.nWidth);
        const size_t nData = frame.nPayload - nWidth;
        if (nData == 0 && ullAt == ullFirst && ullFrameAt == ullFirst)
            return Fail(XferResult::Refused, strWhy,
                        "failed (the daemon had no data for offset " + std::to_string(ullFrameAt) + ")");
        if (ullFrameAt != ullAt)
            return Fail(XferResult::ConnFailed, strWhy,
                        "the daemon sent data for offset " + std::to_string(ullFrameAt) + " where offset " +
                            std::to_string(ullAt) + " was due");
        const uint64_t ullDue = std::min<uint64_t>(kind.nBlock, ullStop - ullAt);
        if (nData != ullDue)
            return Fail(XferResult::ConnFailed, strWhy,
                        "the daemon sent " + std::to_string(nData) + " bytes at offset " + std::to_string(ullAt) +
                            " where " + std::to_string(ullDue) + " were due");
        if (!sink.Write(frame.pPayload + nWidth, nData))
            return Fail(XferResult::LocalFailed, strWhy, sink.Error());
        ullAt += nData;
        if (pProgress != nullptr)
            pProgress->Advance(nData);
    }
    return XferResult::Done;
}

}  // namespace

XferResult FetchRange(CStbConn& conn, const CDataKind& kind, uint64_t ullOffset, uint64_t ullCount, CByteSink& sink,
                      CProgress* pProgress, std::string& strWhy)
{
    const uint64_t ullEnd = ullOffset + ullCount;
    if (ullEnd < ullOffset || (kind.nWidth == 4 && ullEnd > UINT32_MAX))
        return Fail(XferResult::Refused, strWhy, "the range lies beyond the reach of the 32-bit requests");
    uint64_t ullAt = ullOffset;
    while (ullAt < ullEnd) {
        const uint64_t ullAsk = std::min(kRangeBytes, ullEnd - ullAt);
        uint8_t request[16];
        PutLE(request, ullAt, kind.nWidth);
        PutLE(request + kind.nWidth, ullAsk, kind.nWidth);
        if (conn.Send(kind.ucRequest, request, 2 * static_cast<size_t>(kind.nWidth)) != 0)
            return Fail(XferResult::ConnFailed, strWhy, conn.Error());
        XferResult eResult = ReceiveStream(conn, kind, ullAt, ullAt + ullAsk, sink, pProgress, strWhy);
        if (eResult != XferResult::Done)
            return eResult;
        ullAt += ullAsk;
    }
    return XferResult::Done;
}
