#include "ver_measure.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/epoll.h>
#include <unistd.h>
#include <vector>

#include "bench_conn.h"
#include "bench_util.h"
#include "cpu_pin.h"
#include "net/frame.h"
#include "net/protocol.h"
#include "platform/limits.h"
#include "proc_figures.h"

namespace {

// Round trips of one block of a serial measurement: a few milliseconds.
constexpr int kSerialBlock = 256;
// The daemon drops a session after 10 s of silence; an idle connection older than this
// is woken with one more request before the memory is read.
constexpr double kIdleRefreshSeconds = 5;
// Time for the accept thread to finish its bookkeeping, and for sessions that were
// closed to end, before the memory is read.
constexpr int kSettleMs = 300;

using ConnList = std::vector<std::unique_ptr<CStbConn>>;

Clock::time_point After(Clock::time_point t, double dSeconds)
{
    return t + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(dSeconds));
}

// Opens nCount connections one after the other; each one's FC_VER_REQ is answered before
// the next connect, so the daemon's listen backlog of 5 never overflows and every session
// is surely running. The connections (each receiving into the smallest buffer), or an
// empty list.
ConnList OpenSessions(uint16_t usPort, int nCount, std::vector<Clock::time_point>* pLastUsed)
{
    ConnList conns;
    for (int i = 0; i < nCount; ++i) {
        auto pConn = std::make_unique<CStbConn>(0);
        bool bConnected = false;
        for (int nTry = 0; nTry < 3 && !bConnected; ++nTry) {
            bConnected = ConnectLoopback(*pConn, usPort);
            if (!bConnected)
                usleep(100 * 1000);
        }
        if (!bConnected || !VerRoundTrip(*pConn)) {
            fprintf(stderr, "bench_ver: connection %d of %d: %s\n", i + 1, nCount, pConn->Error().c_str());
            return {};
        }
        conns.push_back(std::move(pConn));
        if (pLastUsed != nullptr)
            pLastUsed->push_back(Clock::now());
    }
    return conns;
}

}  // namespace

bool MeasureSerial(const std::string& strDaemon, double dSeconds, bool bTrace, SerialFigures& figures)
{
    CBenchDaemon daemon;
    CVerSerial serial;
    if (!StartDaemon(daemon, strDaemon, bTrace, "bench_ver") || !serial.Open(daemon.Port(), daemon.Pid()))
        return false;
    const auto tEnd = After(Clock::now(), dSeconds);
    while (Clock::now() < tEnd) {
        double dRate = 0;
        if (!serial.Block(kSerialBlock, dRate))
            return false;
    }
    figures = serial.Figures("daemon");
    const size_t nRoundTrips = serial.RoundTrips() + CVerSerial::kWarmupRoundTrips;
    if (bTrace)
        fprintf(stderr, "bench_ver:   %.0f bytes of diagnostic lines a round trip\n",
                static_cast<double>(daemon.TraceBytes()) / static_cast<double>(nRoundTrips));
    return true;
}

bool MeasureSerialPair(const std::string& strDaemon, const std::string& strFloor, bool bFloorIsDaemon,
                       double dSeconds, SerialFigures& daemonFigures, SerialFigures& floorFigures,
                       std::vector<double>& ratios)
{
    CBenchDaemon daemon, floor;
    CVerSerial onDaemon, onFloor;
    if (!StartDaemon(daemon, strDaemon, false, "bench_ver"))
        return false;
    if (bFloorIsDaemon) {
        // A baseline may be older than the status page: only this build's page is polled.
        const bool bPolling = CBenchDaemon::PollingPages();
        CBenchDaemon::PollPages(false);
        const bool bStarted = StartDaemon(floor, strFloor, false, "bench_ver");
        CBenchDaemon::PollPages(bPolling);
        if (!bStarted)
            return false;
    } else if (!StartFloor(floor, strFloor, "bench_ver")) {
        return false;
    }
    // What the two are held to is their own work, not where the scheduler put them.
    const CTwoCpus cpus;
    if (!cpus.Pin(daemon.Pid()) || !cpus.Pin(floor.Pid()))
        return Fail("bench_ver", "cannot hold the servers to a CPU of their own");
    if (!onDaemon.Open(daemon.Port(), daemon.Pid()) || !onFloor.Open(floor.Port(), floor.Pid()))
        return false;
    // A round is a block on each, the order reversed every other round, so that neither
    // gains from where it stands; a block that a busy machine interrupts spoils its
    // round's ratio only.
    bool bFloorFirst = true;
    const auto tEnd = After(Clock::now(), 2 * dSeconds);
    while (Clock::now() < tEnd) {
        double dDaemonRate = 0, dFloorRate = 0;
        CVerSerial& first = bFloorFirst ? onFloor : onDaemon;
        CVerSerial& second = bFloorFirst ? onDaemon : onFloor;
        if (!first.Block(kSerialBlock, bFloorFirst ? dFloorRate : dDaemonRate) ||
            !second.Block(kSerialBlock, bFloorFirst ? dDaemonRate : dFloorRate))
            return false;
        ratios.push_back(100 * dDaemonRate / dFloorRate);
        bFloorFirst = !bFloorFirst;
    }
    daemonFigures = onDaemon.Figures("daemon");
    floorFigures = onFloor.Figures(bFloorIsDaemon ? "baseline daemon" : "floor server");
    return true;
}

bool MeasureConcurrent(const std::string& strDaemon, double dSeconds, int nConns, double& dRate)
{
    CBenchDaemon daemon;
    if (!StartDaemon(daemon, strDaemon, false, "bench_ver"))
        return false;
    ConnList conns = OpenSessions(daemon.Port(), nConns, nullptr);
    if (conns.empty())
        return false;
    // Each connection keeps one request outstanding; a readable one holds its whole reply
    // (seven bytes, one segment), so receiving it does not wait.
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    for (const auto& pConn : conns) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.ptr = pConn.get();
        epoll_ctl(ep, EPOLL_CTL_ADD, pConn->Handle(), &ev);
    }
    const auto tStart = Clock::now();
    const auto tEnd = After(tStart, dSeconds);
    bool bOk = true;
    for (const auto& pConn : conns)
        bOk = bOk && pConn->Send(FC_VER_REQ, nullptr, 0) == 0;
    size_t nActive = conns.size();
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
            CStbConn& conn = *static_cast<CStbConn*>(events[i].data.ptr);
            CFrameView reply;
            if (conn.Receive(reply) != 0 || !IsVerReply(reply)) {
                fprintf(stderr, "bench_ver: a connection failed after %llu round trips: %s\n",
                        static_cast<unsigned long long>(nDone),
                        conn.Error().empty() ? "wrong FC_VER_REQ reply" : conn.Error().c_str());
                bOk = false;
                break;
            }
            ++nDone;
            if (tLast < tEnd)
                bOk = conn.Send(FC_VER_REQ, nullptr, 0) == 0;
            else
                --nActive;
        }
    }
    close(ep);
    if (!bOk)
        return false;
    dRate = static_cast<double>(nDone) / Seconds(tLast - tStart);
    fprintf(stderr, "bench_ver:   %.0f round trips/s\n", dRate);
    return true;
}

bool MeasureIdle(const std::string& strDaemon, int nSessions, bool bLargeFrame, bool bTimeShutdown,
                 IdleFigures& figures)
{
    const long nLimit = plat::RaiseDescriptorLimit();
    if (nLimit < nSessions + 16L) {
        fprintf(stderr, "bench_ver: only %ld descriptors allowed, %d connections wanted\n", nLimit, nSessions);
        return false;
    }
    CBenchDaemon daemon;
    if (!StartDaemon(daemon, strDaemon, false, "bench_ver"))
        return false;
    // The readiness check already ran one session; one more, and a pause for both to end,
    // so that first-use costs (the sessions' malloc arena, say) are counted before.
    if (OpenSessions(daemon.Port(), 1, nullptr).empty())
        return false;
    usleep(kSettleMs * 1000);
    const long nThreadsBefore = ProcStatusField(daemon.Pid(), "Threads");
    const long nRssBefore = ProcStatusField(daemon.Pid(), "VmRSS");

    std::vector<Clock::time_point> lastUsed;
    const auto tOpen = Clock::now();
    ConnList conns = OpenSessions(daemon.Port(), nSessions, &lastUsed);
    if (conns.empty())
        return false;
    figures.dOpenRate = nSessions / Seconds(Clock::now() - tOpen);
    if (bLargeFrame) {
        // A frame of the largest size with a request byte that no loop knows: the session
        // reads all of it into its frame buffer, then ignores it without a reply.
        std::vector<uint8_t> frame(kMaxFrame, 0);
        const size_t nFrame = SealFrame(frame.data(), 0x7F, kMaxPayload);
        for (size_t i = 0; i < conns.size(); ++i) {
            // The FC_VER_REQ behind it is answered only once the large frame has been read.
            if (conns[i]->SendFrame(frame.data(), nFrame) != 0 || !VerRoundTrip(*conns[i])) {
                fprintf(stderr, "bench_ver: a session did not answer after a frame of the largest size: %s\n",
                        conns[i]->Error().c_str());
                return false;
            }
            lastUsed[i] = Clock::now();
        }
    }
    usleep(kSettleMs * 1000);
    for (size_t i = 0; i < conns.size(); ++i) {
        if (Seconds(Clock::now() - lastUsed[i]) > kIdleRefreshSeconds && !VerRoundTrip(*conns[i])) {
            fprintf(stderr, "bench_ver: an idle session stopped answering: %s\n", conns[i]->Error().c_str());
            return false;
        }
    }
    const long nThreadsAfter = ProcStatusField(daemon.Pid(), "Threads");
    const long nRssAfter = ProcStatusField(daemon.Pid(), "VmRSS");
    fprintf(stderr, "bench_ver:   daemon VmRSS %ld KiB -> %ld KiB, threads %ld -> %ld; %.0f sessions opened a second\n",
            nRssBefore, nRssAfter, nThreadsBefore, nThreadsAfter, figures.dOpenRate);
    if (nThreadsAfter - nThreadsBefore != nSessions)
        fprintf(stderr, "bench_ver: expected %d more daemon threads, found %ld\n", nSessions,
                nThreadsAfter - nThreadsBefore);
    if (nRssBefore <= 0 || nRssAfter <= 0)
        return false;
    figures.dKiBPerSess = static_cast<double>(nRssAfter - nRssBefore) / nSessions;
    if (!bTimeShutdown)
        return true;
    double dStopSecs = 0;
    const int nStatus = daemon.Stop(60000, &dStopSecs);
    conns.clear();
    if (nStatus != 0) {
        fprintf(stderr, "bench_ver: the daemon did not end with status 0 on SIGTERM (%d)\n", nStatus);
        return true;  // the memory figure stands; the shutdown time stays unmeasured
    }
    figures.dShutdownMs = dStopSecs * 1000;
    fprintf(stderr, "bench_ver:   SIGTERM to exit with %d sessions open: %.0f ms\n", nSessions, figures.dShutdownMs);
    return true;
}
