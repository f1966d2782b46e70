// Uploads: blocks of a file, each acknowledged by the daemon with its offset and the
// count it took.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/wire.h"
#include "tools/progress.h"
#include "tools/stb_conn.h"
#include "tools/stb_xfer.h"

namespace {

XferResult Fail(XferResult eResult, std::string& strWhy, const std::string& str)
{
    strWhy = str;
    return eResult;
}

}  // namespace

XferResult SendBlocks(CStbConn& conn, const CUpKind& kind, FILE* pFile, uint64_t ullSize, CProgress* pProgress,
                      std::string& strWhy)
{
    const size_t nWidth = static_cast<size_t>(kind.nWidth);
    uint64_t ullAt = 0;
    do {
        const size_t nCount = static_cast<size_t>(std::min<uint64_t>(kind.nBlock, ullSize - ullAt));
        uint8_t* p = conn.OutPayload();
        PutLE(p, ullAt, kind.nWidth);
        if (nCount > 0 && fread(p + nWidth, 1, nCount, pFile) != nCount) {
            const bool bError = ferror(pFile) != 0;
            return Fail(XferResult::LocalFailed, strWhy,
                        bError ? std::string("cannot read the local file: ") + strerror(errno)
                               : "the local file got shorter while it was being sent");
        }
        CFrameView reply;
        if (conn.SendOut(kind.ucRequest, nWidth + nCount) != 0 || conn.Receive(reply) != 0)
            return Fail(XferResult::ConnFailed, strWhy, conn.Error());
        if (reply.ucCommand != kind.ucReply || reply.nPayload < 2 * nWidth)
            return Fail(XferResult::ConnFailed, strWhy,
                        "the daemon answered a data block with frame " + HexByte(reply.ucCommand) + " of " +
                            std::to_string(reply.nPayload) + " bytes");
        const uint64_t ullOffset = GetLE(reply.pPayload, kind.nWidth);
        const uint64_t ullTaken = GetLE(reply.pPayload + nWidth, kind.nWidth);
        if (ullOffset != ullAt)
            return Fail(XferResult::ConnFailed, strWhy,
                        "the daemon acknowledged offset " + std::to_string(ullOffset) + " for the block at " +
                            std::to_string(ullAt));
        if (ullTaken == 0 && nCount > 0)
            return Fail(XferResult::Refused, strWhy,
                        "failed (the daemon could not store the block at offset " + std::to_string(ullAt) + ")");
        if (ullTaken != nCount)
            return Fail(XferResult::ConnFailed, strWhy,
                        "the daemon took " + std::to_string(ullTaken) + " of the " + std::to_string(nCount) +
                            " bytes at offset " + std::to_string(ullAt));
        ullAt += nCount;
        if (pProgress != nullptr)
            pProgress->Advance(nCount);
    } while (ullAt < ullSize);
    return XferResult::Done;
}
