#include "ver_measure.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "bench_util.h"
#include "daemon_proc.h"
#include "stb_client.h"

namespace {

constexpr int kWarmupRoundTrips = 1000;
// The daemon drops a session after 10 s of silence; an idle connection older than this
// is woken with one more request before the memory is read.
constexpr double kIdleRefreshSeconds = 5;
// Time for the accept thread to finish its bookkeeping, and for sessions that were
// closed to end, before the memory is read.
constexpr int kSettleMs = 300;

Clock::time_point After(Clock::time_point t, double dSeconds)
{
    return t + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(dSeconds));
}

void CloseAll(std::vector<int>& fds)
{
    for (int fd : fds)
        close(fd);
    fds.clear();
}

// Opens nCount connections one after the other; each one's FC_VER_REQ is answered before
// the next connect, so the daemon's listen backlog of 5 never overflows and every session
// is surely running. The descriptors, or an empty list.
std::vector<int> OpenSessions(uint16_t usPort, int nCount, std::vector<Clock::time_point>* pLastUsed)
{
    std::vector<int> fds;
    for (int i = 0; i < nCount; ++i) {
        int fd = -1;
        for (int nTry = 0; nTry < 3 && fd < 0; ++nTry) {
            fd = ConnectLoopback(usPort);
            if (fd < 0)
                usleep(100 * 1000);
        }
        if (fd < 0 || VerRoundTrip(fd) != 0) {
            fprintf(stderr, "bench_ver: connection %d of %d: %s\n", i + 1, nCount,
                    fd < 0 ? strerror(errno) : "bad or missing FC_VER_REQ reply");
            if (fd >= 0)
                close(fd);
            CloseAll(fds);
            return {};
        }
        fds.push_back(fd);
        if (pLastUsed != nullptr)
            pLastUsed->push_back(Clock::now());
    }
    return fds;
}

// A frame of the largest size with a request byte that no loop knows: the session reads
// all of it into its frame buffer, then ignores it without a reply.
std::vector<uint8_t> LargestUnknownFrame()
{
    std::vector<uint8_t> frame(65538, 0);
    frame[0] = 0xA5;
    frame[1] = 0xFF;
    frame[2] = 0xFF;
    frame[3] = 0x7F;
    uint32_t ulSum = 0x3E;
    for (size_t i = 3; i + 1 < frame.size(); ++i)
        ulSum += frame[i];
    frame.back() = static_cast<uint8_t>(ulSum);
    return frame;
}

}  // namespace

bool MeasureSerial(const std::string& strDaemon, double dSeconds, bool bTrace, SerialFigures& figures)
{
    CDaemonProc daemon;
    if (!StartDaemon(daemon, strDaemon, bTrace, "bench_ver"))
        return false;
    int fd = ConnectLoopback(daemon.Port());
    if (fd < 0) {
        fprintf(stderr, "bench_ver: cannot connect to port %u\n", daemon.Port());
        return false;
    }
    for (int i = 0; i < kWarmupRoundTrips; ++i) {
        if (VerRoundTrip(fd) != 0) {
            fprintf(stderr, "bench_ver: bad or missing FC_VER_REQ reply during warm-up\n");
            close(fd);
            return false;
        }
    }
    std::vector<float> micros;
    micros.reserve(1 << 20);
    const double dCpuStart = daemon.CpuSeconds();
    const auto tStart = Clock::now();
    const auto tEnd = After(tStart, dSeconds);
    auto t = tStart;
    while (t < tEnd) {
        if (VerRoundTrip(fd) != 0) {
            fprintf(stderr, "bench_ver: bad or missing FC_VER_REQ reply after %zu round trips\n", micros.size());
            close(fd);
            return false;
        }
        auto tNow = Clock::now();
        micros.push_back(std::chrono::duration<float, std::micro>(tNow - t).count());
        t = tNow;
    }
    const double dCpuEnd = daemon.CpuSeconds();
    close(fd);
    const double dSecs = Seconds(t - tStart);
    std::sort(micros.begin(), micros.end());
    figures.dRate = static_cast<double>(micros.size()) / dSecs;
    figures.dP50Us = micros[micros.size() / 2];
    figures.dP99Us = micros[micros.size() * 99 / 100];
    figures.dDaemonCpuUs = (dCpuEnd - dCpuStart) * 1e6 / static_cast<double>(micros.size());
    fprintf(stderr,
            "bench_ver:   %.0f round trips/s; p50 %.1f us, p99 %.1f us, p99.9 %.1f us, slowest %.1f us; "
            "daemon CPU %.1f us a round trip\n",
            figures.dRate, figures.dP50Us, figures.dP99Us, static_cast<double>(micros[micros.size() * 999 / 1000]),
            static_cast<double>(micros.back()), figures.dDaemonCpuUs);
    if (bTrace)
        fprintf(stderr, "bench_ver:   %.0f bytes of diagnostic lines a round trip\n",
                static_cast<double>(daemon.TraceBytes()) / static_cast<double>(micros.size() + kWarmupRoundTrips));
    return true;
}

bool MeasureConcurrent(const std::string& strDaemon, double dSeconds, int nConns, double& dRate)
{
    CDaemonProc daemon;
    if (!StartDaemon(daemon, strDaemon, false, "bench_ver"))
        return false;
    std::vector<int> fds = OpenSessions(daemon.Port(), nConns, nullptr);
    if (fds.empty())
        return false;
    struct Conn {
        int fd;
        size_t nGot;
        uint8_t reply[sizeof(kVerReply)];
    };
    std::vector<Conn> conns(fds.size());
    int ep = epoll_create1(EPOLL_CLOEXEC);
    for (size_t i = 0; i < fds.size(); ++i) {
        conns[i] = Conn{fds[i], 0, {}};
        fcntl(fds[i], F_SETFL, fcntl(fds[i], F_GETFL) | O_NONBLOCK);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.ptr = &conns[i];
        epoll_ctl(ep, EPOLL_CTL_ADD, fds[i], &ev);
    }
    const auto tStart = Clock::now();
    const auto tEnd = After(tStart, dSeconds);
    bool bOk = true;
    for (int fd : fds)
        bOk = bOk && SendAll(fd, kVerRequest, sizeof(kVerRequest)) == 0;
    size_t nActive = fds.size();
    uint64_t nDone = 0;
    auto tLast = tStart;
    std::vector<epoll_event> events(256);
    while (bOk && nActive > 0) {
        int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), 5000);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fprintf(stderr, "bench_ver: no reply on any of %zu connections for 5 s\n", nActive);
            bOk = false;
            break;
        }
        tLast = Clock::now();
        for (int i = 0; i < n && bOk; ++i) {
            Conn& c = *static_cast<Conn*>(events[i].data.ptr);
            ssize_t nGot = recv(c.fd, c.reply + c.nGot, sizeof(c.reply) - c.nGot, 0);
            if (nGot < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (nGot <= 0) {
                fprintf(stderr, "bench_ver: a connection closed or failed after %llu round trips\n",
                        static_cast<unsigned long long>(nDone));
                bOk = false;
                break;
            }
            c.nGot += static_cast<size_t>(nGot);
            if (c.nGot < sizeof(c.reply))
                continue;
            if (memcmp(c.reply, kVerReply, sizeof(kVerReply)) != 0) {
                fprintf(stderr, "bench_ver: wrong FC_VER_REQ reply\n");
                bOk = false;
                break;
            }
            c.nGot = 0;
            ++nDone;
            if (tLast < tEnd) {
                // Five bytes always fit the empty send buffer at once.
                bOk = send(c.fd, kVerRequest, sizeof(kVerRequest), MSG_NOSIGNAL) ==
                      static_cast<ssize_t>(sizeof(kVerRequest));
            } else {
                --nActive;
            }
        }
    }
    close(ep);
    CloseAll(fds);
    if (!bOk)
        return false;
    dRate = static_cast<double>(nDone) / Seconds(tLast - tStart);
    fprintf(stderr, "bench_ver:   %.0f round trips/s\n", dRate);
    return true;
}

bool MeasureIdle(const std::string& strDaemon, int nSessions, bool bLargeFrame, bool bTimeShutdown,
                 IdleFigures& figures)
{
    long nLimit = RaiseFileLimit(nSessions + 64L);
    if (nLimit < nSessions + 16L) {
        fprintf(stderr, "bench_ver: only %ld descriptors allowed, %d connections wanted\n", nLimit, nSessions);
        return false;
    }
    CDaemonProc daemon;
    if (!StartDaemon(daemon, strDaemon, false, "bench_ver"))
        return false;
    // The readiness check already ran one session; one more, and a pause for both to end,
    // so that first-use costs (the sessions' malloc arena, say) are counted before.
    {
        std::vector<int> warm = OpenSessions(daemon.Port(), 1, nullptr);
        CloseAll(warm);
    }
    usleep(kSettleMs * 1000);
    const long nThreadsBefore = daemon.StatusField("Threads");
    const long nRssBefore = daemon.StatusField("VmRSS");

    std::vector<Clock::time_point> lastUsed;
    const auto tOpen = Clock::now();
    std::vector<int> fds = OpenSessions(daemon.Port(), nSessions, &lastUsed);
    if (fds.empty())
        return false;
    figures.dOpenRate = nSessions / Seconds(Clock::now() - tOpen);
    if (bLargeFrame) {
        const std::vector<uint8_t> frame = LargestUnknownFrame();
        for (size_t i = 0; i < fds.size(); ++i) {
            // The FC_VER_REQ behind it is answered only once the large frame has been read.
            if (SendAll(fds[i], frame.data(), frame.size()) != 0 || VerRoundTrip(fds[i]) != 0) {
                fprintf(stderr, "bench_ver: a session did not answer after a frame of the largest size\n");
                CloseAll(fds);
                return false;
            }
            lastUsed[i] = Clock::now();
        }
    }
    usleep(kSettleMs * 1000);
    for (size_t i = 0; i < fds.size(); ++i) {
        if (Seconds(Clock::now() - lastUsed[i]) > kIdleRefreshSeconds && VerRoundTrip(fds[i]) != 0) {
            fprintf(stderr, "bench_ver: an idle session stopped answering\n");
            CloseAll(fds);
            return false;
        }
    }
    const long nThreadsAfter = daemon.StatusField("Threads");
    const long nRssAfter = daemon.StatusField("VmRSS");
    fprintf(stderr, "bench_ver:   daemon VmRSS %ld KiB -> %ld KiB, threads %ld -> %ld; %.0f sessions opened a second\n",
            nRssBefore, nRssAfter, nThreadsBefore, nThreadsAfter, figures.dOpenRate);
    if (nThreadsAfter - nThreadsBefore != nSessions)
        fprintf(stderr, "bench_ver: expected %d more daemon threads, found %ld\n", nSessions,
                nThreadsAfter - nThreadsBefore);
    if (nRssBefore <= 0 || nRssAfter <= 0) {
        CloseAll(fds);
        return false;
    }
    figures.dKiBPerSess = static_cast<double>(nRssAfter - nRssBefore) / nSessions;
    if (!bTimeShutdown) {
        CloseAll(fds);
        return true;
    }
    double dStopSecs = 0;
    int nStatus = daemon.Stop(60000, &dStopSecs);
    CloseAll(fds);
    if (nStatus != 0) {
        fprintf(stderr, "bench_ver: the daemon did not end with status 0 on SIGTERM (%d)\n", nStatus);
        return true;  // the memory figure stands; the shutdown time stays unmeasured
    }
    figures.dShutdownMs = dStopSecs * 1000;
    fprintf(stderr, "bench_ver:   SIGTERM to exit with %d sessions open: %.0f ms\n", nSessions, figures.dShutdownMs);
    return true;
}
