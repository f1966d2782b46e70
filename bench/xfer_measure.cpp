#include "xfer_measure.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

#include "bench_util.h"
#include "frame_io.h"
#include "stb_client.h"

namespace {

constexpr int kRecvTimeoutMs = 10000;

// Sends every byte of the pieces, however the kernel splits them.
bool SendPieces(int fd, iovec* pIov, int nCount)
{
    while (nCount > 0) {
        msghdr msg{};
        msg.msg_iov = pIov;
        msg.msg_iovlen = static_cast<size_t>(nCount);
        ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        size_t nLeft = static_cast<size_t>(n);
        while (nCount > 0 && nLeft >= pIov->iov_len) {
            nLeft -= pIov->iov_len;
            ++pIov;
            --nCount;
        }
        if (nCount > 0) {
            pIov->iov_base = static_cast<uint8_t*>(pIov->iov_base) + nLeft;
            pIov->iov_len -= nLeft;
        }
    }
    return true;
}

}  // namespace

bool DaemonDownload(const CDaemonProc& daemon, const std::string& strStbPath, uint64_t ullSize, uint64_t ullSum,
                    uint8_t ucRequest, XferRun& run)
{
    const char* pszWhat = ucRequest == 0x26 ? "download with 0x26" : "download with 0x23";
    CStbSession stb(daemon.Port(), kRecvTimeoutMs);
    if (!stb.Connected())
        return Fail(pszWhat, "cannot connect");
    RxFrame& f = stb.f;
    if (stb.Exchange(0x02, CPayload().U8(0x01).Str(strStbPath), 0xF2, 5) != 0)
        return Fail(pszWhat, stb.strError);
    if (f.pPayload[0] != 0 || GetLE(f.pPayload + 1, 4) != ullSize)
        return Fail(pszWhat, "FC_FILE_DN_REQ answered status " + std::to_string(f.pPayload[0]) + ", size " +
                                 std::to_string(GetLE(f.pPayload + 1, 4)));

    const int nWidth = ucRequest == 0x26 ? 8 : 4;
    const uint8_t ucReply = ucRequest == 0x26 ? 0xD6 : 0xD3;
    const std::vector<uint8_t> request = MakeFrame(ucRequest, CPayload().LE(0, nWidth).LE(ullSize, nWidth).Data());
    run = XferRun{};
    const double dCpu0 = daemon.ProcessCpuSeconds();
    const auto t0 = Clock::now();
    if (SendAll(stb.conn.fd, request.data(), request.size()) != 0)
        return Fail(pszWhat, "send failed");
    uint64_t ullAt = 0, ullGotSum = 0;
    while (ullAt < ullSize) {
        if (stb.reader.Next(f) != 0)
            return Fail(pszWhat, stb.reader.Error() + " at offset " + std::to_string(ullAt));
        const size_t nData = f.nPayload - static_cast<size_t>(nWidth);
        if (f.ucCommand != ucReply || f.nPayload <= static_cast<size_t>(nWidth) || nData > kDataBlock ||
            GetLE(f.pPayload, nWidth) != ullAt)
            return Fail(pszWhat, "unexpected frame " + std::to_string(f.ucCommand) + " with " +
                                     std::to_string(f.nPayload) + " bytes at offset " + std::to_string(ullAt));
        ullGotSum += f.ullPayloadSum - ByteSum(f.pPayload, static_cast<size_t>(nWidth));
        ullAt += nData;
        if (nData == kDataBlock)
            ++run.ullFullFrames;
    }
    run.dSeconds = Seconds(Clock::now() - t0);
    run.dDaemonCpu = daemon.ProcessCpuSeconds() - dCpu0;
    if (ullAt != ullSize || ullGotSum != ullSum)
        return Fail(pszWhat, "the data that arrived differs from the file (byte sum " + std::to_string(ullGotSum) +
                                 ", expected " + std::to_string(ullSum) + ")");
    return true;
}

bool DaemonUpload(const CDaemonProc& daemon, const std::string& strStbPath, const CUploadBlocks& blocks,
                  uint64_t ullSize, XferRun& run)
{
    const char* pszWhat = "upload with 0x27/0x28";
    CStbSession stb(daemon.Port(), kRecvTimeoutMs, 256 * 1024);
    if (!stb.Connected())
        return Fail(pszWhat, "cannot connect");
    RxFrame& f = stb.f;
    if (stb.Exchange(0x27, CPayload().U8(0x01).LE(ullSize, 8).Str(strStbPath), 0xDD, 1) != 0)
        return Fail(pszWhat, stb.strError);
    if (f.pPayload[0] != 0)
        return Fail(pszWhat, "FC_BIGFILE_UP_REQ answered status " + std::to_string(f.pPayload[0]));

    run = XferRun{};
    const uint64_t ullCount = blocks.Count(ullSize);
    const double dCpu0 = daemon.ProcessCpuSeconds();
    const auto t0 = Clock::now();
    for (uint64_t k = 0; k < ullCount; ++k) {
        const size_t n = blocks.Length(k, ullSize);
        const uint64_t ullOffset = k * blocks.BlockSize();
        uint8_t head[12] = {0xA5};
        PutLE(head + 1, 8 + n + 2, 2);
        head[3] = 0x28;
        PutLE(head + 4, ullOffset, 8);
        uint8_t ucSum = static_cast<uint8_t>(0x3E + 0x28 + ByteSum(head + 4, 8) + blocks.Sum(k, n));
        iovec iov[3] = {{head, sizeof(head)}, {const_cast<uint8_t*>(blocks.Block(k)), n}, {&ucSum, 1}};
        if (!SendPieces(stb.conn.fd, iov, 3))
            return Fail(pszWhat, "send failed at block " + std::to_string(k));
        if (stb.reader.Next(f) != 0)
            return Fail(pszWhat, stb.reader.Error() + " at block " + std::to_string(k));
        if (f.ucCommand != 0xFE || f.nPayload != 16 || GetLE(f.pPayload, 8) != ullOffset ||
            GetLE(f.pPayload + 8, 8) != n)
            return Fail(pszWhat, "block " + std::to_string(k) + " was not taken whole");
    }
    run.dSeconds = Seconds(Clock::now() - t0);
    run.dDaemonCpu = daemon.ProcessCpuSeconds() - dCpu0;
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
