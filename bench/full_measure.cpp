#include "full_measure.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "bench_daemon.h"
#include "bench_util.h"
#include "net/frame.h"
#include "net/protocol.h"
#include "platform/limits.h"
#include "proc_figures.h"

namespace {

constexpr const char* kProgram = "bench_hold";
constexpr int kReplyTimeoutMs = 10000;
// Time for the session of the readiness check to end before the figures are read.
constexpr int kSettleMs = 300;

// The loopback address of host h (0-based): 127.1.x.y.
std::string HostAddress(int h) { return "127.1." + std::to_string(h / 250) + "." + std::to_string(h % 250 + 1); }

// Connects to the daemon from the address; the socket, or -1.
int ConnectFrom(const std::string& strFrom, uint16_t usPort)
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    if (s < 0 || inet_pton(AF_INET, strFrom.c_str(), &sa.sin_addr) != 1 ||
        bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
        if (s >= 0)
            close(s);
        return -1;
    }
    sa.sin_port = htons(usPort);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
        close(s);
        return -1;
    }
    return s;
}

// FC_VER_REQ and its reply of nReply bytes; false when the connection was closed or the
// reply did not come.
bool Version(int s)
{
    uint8_t frame[kFrameOverhead];
    const size_t nFrame = SealFrame(frame, FC_VER_REQ, 0);
    if (send(s, frame, nFrame, MSG_NOSIGNAL) != static_cast<ssize_t>(nFrame))
        return false;
    constexpr size_t nReply = kFrameOverhead + 2;
    uint8_t reply[nReply];
    size_t nGot = 0;
    while (nGot < nReply) {
        pollfd pfd{s, POLLIN, 0};
        if (poll(&pfd, 1, kReplyTimeoutMs) <= 0)
            return false;
        const ssize_t n = recv(s, reply + nGot, nReply - nGot, 0);
        if (n <= 0)
            return false;
        nGot += static_cast<size_t>(n);
    }
    return reply[3] == FC_VER_REP;
}

}  // namespace

bool MeasureFull(const std::string& strBinary, int nSessions, int nPerHost, FullFigures& figures)
{
    if (plat::RaiseDescriptorLimit() < nSessions + 16L)
        return Fail(kProgram, "too few descriptors allowed for " + std::to_string(nSessions) + " connections");
    figures = FullFigures{};
    CBenchDaemon daemon;
    daemon.SetSessionCaps(nSessions, nPerHost);
    if (!StartDaemon(daemon, strBinary, false, kProgram))
        return false;
    usleep(kSettleMs * 1000);
    const pid_t pid = daemon.Pid();
    figures.nThreadsBefore = ProcStatusField(pid, "Threads");
    figures.nRssBeforeKiB = ProcStatusField(pid, "VmRSS");
    figures.nVmBeforeKiB = ProcStatusField(pid, "VmSize");

    std::vector<int> socks;
    bool bOk = true;
    for (int i = 0; i < nSessions && bOk; ++i) {
        const std::string strFrom = HostAddress(i / nPerHost);
        const int s = ConnectFrom(strFrom, daemon.Port());
        bOk = s >= 0 && Version(s);
        if (s >= 0)
            socks.push_back(s);
        if (!bOk)
            Fail(kProgram, "session " + std::to_string(i + 1) + " from " + strFrom + " was not served");
    }
    if (bOk) {
        figures.nHosts = (nSessions + nPerHost - 1) / nPerHost;
        figures.nThreads = ProcStatusField(pid, "Threads");
        figures.nRssKiB = ProcStatusField(pid, "VmRSS");
        figures.nVmKiB = ProcStatusField(pid, "VmSize");
        const int s = ConnectFrom(HostAddress(figures.nHosts), daemon.Port());
        figures.bNextRefused = s >= 0 && !Version(s);
        if (s >= 0)
            close(s);
        fprintf(stderr,
                "%s:   %s: %d sessions from %d addresses: threads %ld -> %ld, VmRSS %ld -> %ld KiB, "
                "VmSize %ld -> %ld KiB; one more from a new address %s\n",
                kProgram, strBinary.c_str(), nSessions, figures.nHosts, figures.nThreadsBefore, figures.nThreads,
                figures.nRssBeforeKiB, figures.nRssKiB, figures.nVmBeforeKiB, figures.nVmKiB,
                figures.bNextRefused ? "was refused" : "was served");
    }
    for (int s : socks)
        close(s);
    return bOk && figures.nRssKiB > 0;
}
