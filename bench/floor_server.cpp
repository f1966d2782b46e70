// corvane_floor: the least a server must do to answer an STB's uploads and version
// requests, the floor that bench_xfer and bench_ver hold the daemon against. It serves one
// connection at a time, request after request, with the daemon's frame codec
// (net/frame.h) and socket layer, and answers three requests only:
//
//   FC_VER_REQ              the protocol version, as the daemon answers it
//   FC_BIGFILE_UP_REQ       creates DIR/NAME and reserves its announced size, as the
//                           daemon's open of a large upload does; status 0, 1 when it
//                           cannot, 0xFF for a request without its fields
//   FC_BIGFILE_DATA_UP_REQ  one pwrite of the block (cut at the announced end), answered
//                           with its offset and the count taken; the block that reaches the
//                           end brings the file to the disk (one fdatasync) and closes it
//                           before its reply, as the daemon does
//
// Everything else gets no reply. No paths beneath folders, no confinement, no sessions, no
// diagnostics: what the daemon does beyond this is what the comparison measures.
//
//   corvane_floor --dir DIR --port N
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "bench_files.h"
#include "net/frame.h"
#include "net/protocol.h"
#include "net/wire.h"
#include "platform/socket.h"

namespace {

constexpr size_t kInBuffer = 4 * static_cast<size_t>(kMaxFrame);

// The upload in progress: its file and announced size.
struct CFloorUpload {
    int fd = -1;
    uint64_t ullSize = 0;

    void Close()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
};

// Creates the file as an upload target of ullSize bytes: a plain name in strDir, its blocks
// reserved (fallocate, else the length set) so that the blocks are written into place as
// the daemon writes them.
bool OpenUpload(const std::string& strDir, const std::string& strName, uint64_t ullSize, CFloorUpload& up)
{
    up.Close();
    if (strName.empty() || strName == "." || strName == ".." || strName.find('/') != std::string::npos)
        return false;
    up.fd = open((strDir + "/" + strName).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (up.fd < 0)
        return false;
    up.ullSize = ullSize;
    if (ullSize == 0)
        return true;
    int rc;
    do
        rc = fallocate(up.fd, 0, 0, static_cast<off_t>(ullSize));
    while (rc != 0 && errno == EINTR);
    if (rc != 0 && (errno == EOPNOTSUPP || errno == ENOSYS))
        rc = ftruncate(up.fd, static_cast<off_t>(ullSize));
    if (rc != 0)
        up.Close();
    return rc == 0;
}

// The reply's payload length in pOut's payload area, or -1 for no reply; ucReply receives
// its command byte.
int Answer(const CFrameView& request, const std::string& strDir, CFloorUpload& up, uint8_t* pOut, uint8_t& ucReply)
{
    const uint8_t* p = request.pPayload;
    const size_t n = request.nPayload;
    uint8_t* pReply = pOut + kPayloadOffset;
    switch (request.ucCommand) {
    case FC_VER_REQ:
        ucReply = FC_VER_REP;
        pReply[0] = kProtocolVersionMajor;
        pReply[1] = kProtocolVersionMinor;
        return 2;
    case FC_BIGFILE_UP_REQ: {
        ucReply = FC_FILE_UP_REP_ALT;
        if (n < 11 || p[n - 1] != 0) {
            pReply[0] = kStatusInvalid;
            return 1;
        }
        const std::string strName(reinterpret_cast<const char*>(p + 9));
        pReply[0] = OpenUpload(strDir, strName, GetU64LE(p + 1), up) ? kStatusDone : kStatusFailed;
        return 1;
    }
    case FC_BIGFILE_DATA_UP_REQ: {
        ucReply = FC_DATA_UP_REP;
        const uint64_t o = n < 8 ? 0 : GetU64LE(p);
        const uint64_t L = up.ullSize;
        uint64_t t = n < 8 ? 0 : n - 8;
        if (o > L)
            t = 0;
        else if (t > L - o)
            t = L - o;
        if (t > 0 && (up.fd < 0 || !WriteAt(up.fd, o, p + 8, static_cast<size_t>(t))))
            t = 0;
        if (o >= L || t >= L - o) {
            if (up.fd >= 0 && fdatasync(up.fd) != 0)
                t = 0;
            up.Close();
        }
        PutU64LE(pReply, o);
        PutU64LE(pReply + 8, t);
        return 16;
    }
    default:
        return -1;
    }
}

// Serves one connection until it closes or fails.
void Serve(plat::Socket hConn, const std::string& strDir, uint8_t* pIn, uint8_t* pOut)
{
    CFloorUpload up;
    size_t nStart = 0, nEnd = 0;
    for (;;) {
        const CFrameView frame = ScanFrame(pIn + nStart, nEnd - nStart);
        if (frame.eScan == FrameScan::Whole) {
            uint8_t ucReply = 0;
            const int nReply = Answer(frame, strDir, up, pOut, ucReply);
            nStart += frame.nBytes;
            if (nReply < 0)
                continue;
            const size_t nFrame = SealFrame(pOut, ucReply, static_cast<size_t>(nReply));
            if (plat::SockSendAll(hConn, pOut, nFrame) != 0)
                break;
            continue;
        }
        if (frame.eScan == FrameScan::Drop) {
            nStart += frame.nBytes;
            continue;
        }
        // The partial frame moves to the front when the room behind it runs short.
        if (nStart == nEnd) {
            nStart = nEnd = 0;
        } else if (kInBuffer - nEnd < static_cast<size_t>(kMaxFrame)) {
            memmove(pIn, pIn + nStart, nEnd - nStart);
            nEnd -= nStart;
            nStart = 0;
        }
        const int nGot = plat::SockRecv(hConn, pIn + nEnd, static_cast<int>(kInBuffer - nEnd));
        if (nGot <= 0)
            break;
        nEnd += static_cast<size_t>(nGot);
    }
    up.Close();
}

int Usage()
{
    fprintf(stderr, "usage: corvane_floor --dir DIR --port N\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string strDir;
    long nPort = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--dir") == 0)
            strDir = argv[i + 1];
        else if (strcmp(argv[i], "--port") == 0)
            nPort = strtol(argv[i + 1], nullptr, 10);
        else
            return Usage();
    }
    if (argc % 2 != 1 || strDir.empty() || nPort <= 0 || nPort > 65535)
        return Usage();

    const plat::Socket hListen = plat::SockCreateTcp();
    if (hListen == plat::INVALID_SOCKET || plat::SockSetReuseAddr(hListen) != 0 ||
        plat::SockBindLoopback(hListen, static_cast<uint16_t>(nPort)) != 0 || plat::SockListen(hListen, 5) != 0) {
        fprintf(stderr, "corvane_floor: cannot listen on 127.0.0.1:%ld\n", nPort);
        return 1;
    }
    std::unique_ptr<uint8_t[]> pIn(new uint8_t[kInBuffer]), pOut(new uint8_t[kMaxFrame]);
    for (;;) {
        plat::AcceptError eError = plat::AcceptError::None;
        const plat::Socket hConn = plat::SockAccept(hListen, &eError);
        if (hConn == plat::INVALID_SOCKET) {
            if (eError == plat::AcceptError::Closed)
                break;
            continue;
        }
        // Every reply leaves at once, as the daemon's do.
        plat::SockSetNoDelay(hConn);
        Serve(hConn, strDir, pIn.get(), pOut.get());
        plat::SockClose(hConn);
    }
    plat::SockClose(hListen);
    return 0;
}
