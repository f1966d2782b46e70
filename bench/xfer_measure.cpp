#include "xfer_measure.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "bench_conn.h"
#include "bench_util.h"
#include "proc_figures.h"

namespace {

constexpr int kRecvTimeoutMs = 10000;
// A stream of data frames is read several frames a call.
constexpr size_t kStreamBuffer = 512 * 1024;

}  // namespace

bool DaemonDownload(const CBenchDaemon& daemon, const std::string& strStbPath, uint64_t ullSize, uint64_t ullSum,
                    uint8_t ucRequest, XferRun& run, const std::function<void()>& fnOpened)
{
    const bool bBig = ucRequest == FC_BIGFILE_DATA_REQ_LARGE;
    const char* pszWhat = bBig ? "download with FC_BIGFILE_DATA_REQ" : "download with FC_DATA_REQ";
    CStbConn conn(kStreamBuffer);
    if (!ConnectLoopback(conn, daemon.Port(), kRecvTimeoutMs))
        return Fail(pszWhat, conn.Error());
    CFrameView f;
    if (conn.Exchange(FC_FILE_DN_REQ, PathPayload(strStbPath), FC_FILE_DN_REP, 5, f) != 0)
        return Fail(pszWhat, conn.Error());
    if (f.pPayload[0] != kStatusDone || GetU32LE(f.pPayload + 1) != ullSize)
        return Fail(pszWhat, "FC_FILE_DN_REQ answered status " + std::to_string(f.pPayload[0]) + ", size " +
                                 std::to_string(GetU32LE(f.pPayload + 1)));

    const int nWidth = bBig ? 8 : 4;
    const size_t nWidthBytes = static_cast<size_t>(nWidth);
    const uint8_t ucReply = ReplyByte(ucRequest);
    uint8_t request[16];
    PutLE(request, 0, nWidth);
    PutLE(request + nWidth, ullSize, nWidth);
    if (fnOpened)
        fnOpened();
    run = XferRun{};
    const double dCpu0 = ProcCpuSeconds(daemon.Pid()), dOwn0 = OwnCpuSeconds();
    const auto t0 = Clock::now();
    if (conn.Send(ucRequest, request, 2 * nWidthBytes) != 0)
        return Fail(pszWhat, conn.Error());
    uint64_t ullAt = 0, ullGotSum = 0;
    while (ullAt < ullSize) {
        if (conn.Receive(f) != 0)
            return Fail(pszWhat, conn.Error() + " at offset " + std::to_string(ullAt));
        const size_t nData = f.nPayload - nWidthBytes;
        if (f.ucCommand != ucReply || f.nPayload <= nWidthBytes || nData > static_cast<size_t>(kLargeBlock) ||
            GetLE(f.pPayload, nWidth) != ullAt)
            return Fail(pszWhat, "unexpected frame " + HexByte(f.ucCommand) + " with " + std::to_string(f.nPayload) +
                                     " bytes at offset " + std::to_string(ullAt));
        ullGotSum += ByteSum(f.pPayload + nWidthBytes, nData);
        ullAt += nData;
        if (nData == static_cast<size_t>(kLargeBlock))
            ++run.ullFullFrames;
    }
    run.dSeconds = Seconds(Clock::now() - t0);
    run.dServerCpu = ProcCpuSeconds(daemon.Pid()) - dCpu0;
    run.dClientCpu = OwnCpuSeconds() - dOwn0;
    if (ullAt != ullSize || ullGotSum != ullSum)
        return Fail(pszWhat, "the data that arrived differs from the file (byte sum " + std::to_string(ullGotSum) +
                                 ", expected " + std::to_string(ullSum) + ")");
    return true;
}

bool Upload(const CBenchDaemon& server, const std::string& strStbPath, CUploadBlocks& blocks, uint64_t ullSize,
            XferRun& run)
{
    const char* pszWhat = "upload with FC_BIGFILE_UP_REQ and FC_BIGFILE_DATA_UP_REQ";
    CStbConn conn(0);  // the replies come one at a time
    if (!ConnectLoopback(conn, server.Port(), kRecvTimeoutMs))
        return Fail(pszWhat, conn.Error());
    std::vector<uint8_t> open(9, 0);
    PutU64LE(open.data() + 1, ullSize);
    AppendCString(open, strStbPath);
    CFrameView f;
    if (conn.Exchange(FC_BIGFILE_UP_REQ, open, FC_FILE_UP_REP_ALT, 1, f) != 0)
        return Fail(pszWhat, conn.Error());
    if (f.pPayload[0] != kStatusDone)
        return Fail(pszWhat, "FC_BIGFILE_UP_REQ answered status " + std::to_string(f.pPayload[0]));

    run = XferRun{};
    const uint64_t ullCount = blocks.Count(ullSize);
    const double dCpu0 = ProcCpuSeconds(server.Pid()), dOwn0 = OwnCpuSeconds();
    const auto t0 = Clock::now();
    auto tLast = t0;
    for (uint64_t k = 0; k < ullCount; ++k) {
        const size_t n = blocks.Length(k, ullSize);
        if (k + 1 == ullCount)
            tLast = Clock::now();
        const uint64_t ullOffset = k * blocks.BlockSize();
        int rc;
        if (n == blocks.BlockSize()) {
            rc = conn.SendFrame(blocks.FullFrame(k), blocks.FrameSize());
        } else {
            uint8_t* p = conn.OutPayload();
            PutU64LE(p, ullOffset);
            memcpy(p + CUploadBlocks::kOffsetBytes, blocks.Block(k), n);
            rc = conn.SendOut(FC_BIGFILE_DATA_UP_REQ, CUploadBlocks::kOffsetBytes + n);
        }
        if (rc != 0 || conn.Receive(f) != 0)
            return Fail(pszWhat, conn.Error() + " at block " + std::to_string(k));
        if (f.ucCommand != FC_DATA_UP_REP || f.nPayload != 16 || GetU64LE(f.pPayload) != ullOffset ||
            GetU64LE(f.pPayload + 8) != n)
            return Fail(pszWhat, "block " + std::to_string(k) + " was not taken whole");
    }
    const auto tEnd = Clock::now();
    run.dSeconds = Seconds(tEnd - t0);
    run.dLastReply = Seconds(tEnd - tLast);
    run.dServerCpu = ProcCpuSeconds(server.Pid()) - dCpu0;
    run.dClientCpu = OwnCpuSeconds() - dOwn0;
    return true;
}

bool CheckUploaded(const std::string& strLocal, const CUploadBlocks& blocks, uint64_t ullSize)
{
    int fd = open(strLocal.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail("upload check", "cannot open " + strLocal);
    std::vector<uint8_t> buf(blocks.BlockSize());
    bool bOk = lseek(fd, 0, SEEK_END) == static_cast<off_t>(ullSize);
    const uint64_t ullCount = blocks.Count(ullSize);
    for (uint64_t k = 0; bOk && k < ullCount; ++k) {
        const size_t n = blocks.Length(k, ullSize);
        bOk = pread(fd, buf.data(), n, static_cast<off_t>(k * blocks.BlockSize())) == static_cast<ssize_t>(n) &&
              memcmp(buf.data(), blocks.Block(k), n) == 0;
    }
    close(fd);
    return bOk || Fail("upload check", strLocal + " does not hold the bytes that were sent");
}
