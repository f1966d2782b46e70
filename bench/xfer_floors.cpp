#include "xfer_floors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_util.h"
#include "bench_files.h"
#include "net/frame.h"
#include "net/protocol.h"
#include "net/wire.h"
#include "platform/socket.h"

namespace {

// A connected loopback pair: fdSend is the accepted side (as the daemon's session socket
// is, with TCP_NODELAY), fdRecv the connecting side. false when it cannot be made.
bool LoopbackPair(int& fdSend, int& fdRecv)
{
    fdSend = fdRecv = -1;
    int fdListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fdListen < 0)
        return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(sa);
    if (bind(fdListen, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0 && listen(fdListen, 1) == 0 &&
        getsockname(fdListen, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
        fdRecv = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fdRecv >= 0 && connect(fdRecv, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0)
            fdSend = accept4(fdListen, nullptr, nullptr, SOCK_CLOEXEC);
    }
    close(fdListen);
    if (fdSend < 0) {
        if (fdRecv >= 0)
            close(fdRecv);
        return false;
    }
    int on = 1;
    setsockopt(fdSend, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    return true;
}

}  // namespace

SleepFigures MeasureSleep(int nSamples)
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(nSamples));
    double dTotal = 0;
    for (int i = 0; i < nSamples; ++i) {
        timespec ts{0, 1000000L};
        const auto t0 = Clock::now();
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
        micros.push_back(Seconds(Clock::now() - t0) * 1e6);
        dTotal += micros.back();
    }
    std::nth_element(micros.begin(), micros.begin() + nSamples / 2, micros.end());
    return SleepFigures{micros[static_cast<size_t>(nSamples / 2)], dTotal / nSamples};
}

bool PlainSendLoop(const std::string& strFile, uint64_t ullSize, double& dSeconds)
{
    int fdFile = open(strFile.c_str(), O_RDONLY | O_CLOEXEC);
    int fdSend = -1, fdRecv = -1;
    if (fdFile < 0 || !LoopbackPair(fdSend, fdRecv)) {
        fprintf(stderr, "bench: plain loop: cannot open %s or a loopback connection\n", strFile.c_str());
        if (fdFile >= 0)
            close(fdFile);
        return false;
    }
    const size_t nBlock = static_cast<size_t>(kLargeBlock);
    const uint64_t ullFrames = (ullSize + nBlock - 1) / nBlock;
    const uint64_t ullWire = ullSize + ullFrames * (kFrameOverhead + 4);
    std::atomic<uint64_t> ullRead{0};
    std::thread reader([&] {
        std::vector<uint8_t> buf(512 * 1024);
        uint64_t ullGot = 0;
        while (ullGot < ullWire) {
            ssize_t n = recv(fdRecv, buf.data(), buf.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            ullGot += static_cast<uint64_t>(n);
        }
        ullRead = ullGot;
    });

    // The daemon's own steps for each frame: the data read in behind the offset, the frame
    // sealed by the same codec, one send.
    std::vector<uint8_t> frame(nBlock + kFrameOverhead + 4);
    bool bOk = true;
    const auto t0 = Clock::now();
    for (uint64_t c = 0; bOk && c < ullSize;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(nBlock, ullSize - c));
        bOk = ReadAt(fdFile, c, frame.data() + kPayloadOffset + 4, n);
        PutU32LE(frame.data() + kPayloadOffset, static_cast<uint32_t>(c));
        const size_t nFrame = SealFrame(frame.data(), FC_DATA_REP_LARGE, 4 + n);
        bOk = bOk && plat::SockSendAll(fdSend, frame.data(), nFrame) == 0;
        c += n;
    }
    if (!bOk)
        shutdown(fdSend, SHUT_RDWR);  // the reader stops at once
    reader.join();
    dSeconds = Seconds(Clock::now() - t0);
    close(fdSend);
    close(fdRecv);
    close(fdFile);
    if (!bOk || ullRead != ullWire) {
        fprintf(stderr, "bench: plain loop: %llu of %llu bytes arrived\n", static_cast<unsigned long long>(ullRead.load()),
                static_cast<unsigned long long>(ullWire));
        return false;
    }
    return true;
}
