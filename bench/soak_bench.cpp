// bench_soak: the daemon under a crowd of STBs. N clients (threads of this program, each
// talking through the client library) run a random mix of requests for S seconds:
// version, listing, download, upload, copy, directory download and directory upload, a
// share of them cut off mid-way (part of a frame sent, or a reply left unread). Each
// connection opens with a version exchange, so that a handshake lost in the daemon's full
// listen backlog is retried and counted rather than taken for a fault. Every reply is
// checked against the shared folder; once the daemon has let go of everything,
// every file a client wrote must hold nothing or one whole upload or copy. Then the daemon
// is ended with SIGTERM.
//
//   bench_soak [--daemon PATH] [--clients N] [--seconds S] [--seed N] [--cut SHARE]
//              [--settle S] [--repeat R] [--rows]
//
// Rows: requests per second, operations done and cut off, faults, handshakes lost in the
// backlog, the daemon's memory at its peak, and its descriptors and threads after the clients against before them (at
// most 1: nothing is kept). The requests row is an error when a reply or a file was
// wrong, when the daemon stopped answering or when it did not exit 0 on SIGTERM; what went
// wrong is on standard error.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_conn.h"
#include "bench_util.h"
#include "platform/limits.h"
#include "proc_figures.h"
#include "soak_client.h"

namespace {

constexpr const char* kProgram = "bench_soak";
constexpr int kStopTimeoutMs = 20000;
constexpr auto kSample = std::chrono::milliseconds(250);
constexpr auto kSettlePoll = std::chrono::milliseconds(50);
constexpr int kSettlePollsPerProbe = 20;
// Time for the readiness check's session to end before the figures before are read.
constexpr auto kStartSettle = std::chrono::milliseconds(300);

struct Options {
    std::string strDaemon = CORVANE_BIN;
    int nClients = 200;
    int nSeconds = 30;
    int nSeed = 1;
    double dCut = 0.05;
    int nSettleSeconds = 15;
    int nRepeat = 1;
    bool bRows = false;
};

int ParseOptions(int argc, char** argv, Options& opt)
{
    const BenchOption options[] = {{"--daemon", &opt.strDaemon}, {"--clients", &opt.nClients},
                                   {"--seconds", &opt.nSeconds}, {"--seed", &opt.nSeed},
                                   {"--cut", &opt.dCut},         {"--settle", &opt.nSettleSeconds},
                                   {"--repeat", &opt.nRepeat},   {"--rows", &opt.bRows}};
    const char* pszUsage =
        "usage: bench_soak [--daemon PATH] [--clients N] [--seconds S] [--seed N] [--cut SHARE] [--settle S]\n"
        "                  [--repeat R] [--rows]\n"
        "  --daemon PATH  the corvane binary (default: the one built beside this program)\n"
        "  --clients N    clients at work at once (default 200)\n"
        "  --seconds S    how long they work (default 30)\n"
        "  --seed N       the seed of the files and of the clients' choices (default 1)\n"
        "  --cut SHARE    the share of operations cut off mid-way (default 0.05)\n"
        "  --settle S     the longest wait for the daemon to let go of the sessions (default 15)\n"
        "  --repeat R     soaks, one after another with seeds N, N+1, ...; the rows hold the worst\n"
        "                 figures and the sums of the counts (default 1)\n"
        "  --rows         tab-separated rows for bench/run instead of a table\n";
    if (!ParseArgs(argc, argv, options, pszUsage))
        return -1;
    const bool bBad = opt.nClients < 1 || opt.nClients > 1000 || opt.nSeconds < 1 || opt.nSeconds > 3600 ||
                      opt.dCut < 0 || opt.dCut > 1 || opt.nSettleSeconds < 1 || opt.nRepeat < 1;
    return CheckOptions(bBad, "bench_soak: 1 to 1000 clients for 1 to 3600 seconds, a cut share from 0 to 1\n");
}

struct DaemonFigures {
    long nRssKiB = -1;
    long nFds = -1;
    long nThreads = -1;
};

DaemonFigures Sample(pid_t pid)
{
    return DaemonFigures{ProcStatusField(pid, "VmRSS"), ProcOpenDescriptors(pid), ProcStatusField(pid, "Threads")};
}

struct SoakFigures {
    double dSeconds = 0;
    DaemonFigures start, peak, end;
};

// Once the clients have gone, the sessions they cut end as the daemon sees their
// connections close. Waits until the daemon holds no more descriptors and threads than
// before the clients came, or nSettleSeconds have passed. A version exchange on a fresh
// connection each second proves that the daemon still answers (and lets its accept thread
// free the ended sessions).
void Settle(const CBenchDaemon& daemon, const Options& opt, CSoakStats& stats, SoakFigures& f)
{
    const Clock::time_point tGiveUp = Clock::now() + std::chrono::seconds(opt.nSettleSeconds);
    for (;;) {
        CStbConn probe;
        if (!ConnectLoopback(probe, daemon.Port()) || !VerRoundTrip(probe)) {
            stats.Fault("after the clients", "no version reply: " + probe.Error());
            f.end = Sample(daemon.Pid());
            return;
        }
        probe.Close(true);
        for (int i = 0; i < kSettlePollsPerProbe; ++i) {
            std::this_thread::sleep_for(kSettlePoll);
            f.end = Sample(daemon.Pid());
            if (f.end.nFds <= f.start.nFds && f.end.nThreads <= f.start.nThreads)
                return;
        }
        if (Clock::now() > tGiveUp)
            return;
    }
}

// The soak itself. false when it could not be made (the reason on standard error).
bool Soak(const Options& opt, CSoakStats& stats, SoakFigures& f)
{
    if (plat::RaiseDescriptorLimit() < 2L * opt.nClients + 64)
        return Fail(kProgram, "too few descriptors allowed for " + std::to_string(opt.nClients) + " clients");
    CBenchDaemon daemon;
    CSoakShare share;
    if (!StartDaemon(daemon, opt.strDaemon, false, kProgram) ||
        !share.Seed(daemon.ShareDir(), static_cast<uint64_t>(opt.nSeed)))
        return false;
    std::this_thread::sleep_for(kStartSettle);
    f.start = f.peak = Sample(daemon.Pid());

    const CSoakSettings settings{daemon.Port(), opt.dCut, static_cast<uint64_t>(opt.nSeed)};
    std::vector<std::unique_ptr<CSoakClient>> clients;
    for (int i = 0; i < opt.nClients; ++i)
        clients.push_back(std::make_unique<CSoakClient>(i, settings, share, stats));
    fprintf(stderr, "%s: %d clients for %d s against %s (pid %d)\n", kProgram, opt.nClients, opt.nSeconds,
            opt.strDaemon.c_str(), static_cast<int>(daemon.Pid()));
    const Clock::time_point tStart = Clock::now();
    const Clock::time_point tEnd = tStart + std::chrono::seconds(opt.nSeconds);
    std::atomic<int> nFinished{0};
    std::vector<std::thread> threads;
    for (auto& pClient : clients)
        threads.emplace_back([&, pClient = pClient.get()] {
            pClient->Run(tEnd);
            ++nFinished;
        });
    while (nFinished.load() < opt.nClients) {
        std::this_thread::sleep_for(kSample);
        const DaemonFigures now = Sample(daemon.Pid());
        f.peak.nRssKiB = std::max(f.peak.nRssKiB, now.nRssKiB);
        f.peak.nFds = std::max(f.peak.nFds, now.nFds);
        f.peak.nThreads = std::max(f.peak.nThreads, now.nThreads);
    }
    for (std::thread& t : threads)
        t.join();
    f.dSeconds = Seconds(Clock::now() - tStart);

    Settle(daemon, opt, stats, f);
    for (auto& pClient : clients)
        pClient->CheckFiles();
    const int nExit = daemon.Stop(kStopTimeoutMs, nullptr);
    if (nExit != 0)
        stats.Fault("SIGTERM", nExit < 0 ? "the daemon did not end (killed)" : "exit status " + std::to_string(nExit));
    return f.start.nFds > 0 && f.start.nThreads > 0 && f.end.nFds > 0 && f.end.nThreads > 0;
}

void PrintReport(const CSoakStats& stats, const SoakFigures& f)
{
    fprintf(stderr,
            "%s: %.1f s; %llu requests, %llu connections (%llu slow: SYN retried; %llu refused and retried; "
            "%llu dropped unanswered: the listen backlog was full)\n",
            kProgram, f.dSeconds, static_cast<unsigned long long>(stats.ullRequests.load()),
            static_cast<unsigned long long>(stats.ullConnections.load()),
            static_cast<unsigned long long>(stats.ullSlowConnects.load()),
            static_cast<unsigned long long>(stats.ullConnectRetries.load()),
            static_cast<unsigned long long>(stats.ullLostHandshakes.load()));
    fprintf(stderr, "%s:   %-14s %10s %8s\n", kProgram, "operation", "done", "cut");
    for (size_t i = 0; i < kSoakOps; ++i)
        fprintf(stderr, "%s:   %-14s %10llu %8llu\n", kProgram, SoakOpName(static_cast<SoakOp>(i)),
                static_cast<unsigned long long>(stats.done[i].load()),
                static_cast<unsigned long long>(stats.cut[i].load()));
    fprintf(stderr, "%s:   %-10s %10s %10s %10s\n", kProgram, "daemon", "before", "peak", "after");
    fprintf(stderr, "%s:   %-10s %10ld %10ld %10ld\n", kProgram, "VmRSS KiB", f.start.nRssKiB, f.peak.nRssKiB,
            f.end.nRssKiB);
    fprintf(stderr, "%s:   %-10s %10ld %10ld %10ld\n", kProgram, "fds", f.start.nFds, f.peak.nFds, f.end.nFds);
    fprintf(stderr, "%s:   %-10s %10ld %10ld %10ld\n", kProgram, "threads", f.start.nThreads, f.peak.nThreads,
            f.end.nThreads);
    fprintf(stderr, "%s: faults: %llu\n", kProgram, static_cast<unsigned long long>(stats.Faults()));
    stats.PrintFaults(stderr, 20);
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (ParseOptions(argc, argv, opt) != 0)
        return 2;
    const std::string strName = "soak_" + std::to_string(opt.nClients) + "x" + std::to_string(opt.nSeconds) + "s";
    BenchRow requests = MakeRow(strName + "_requests", "requests/s", TargetKind::None, 0, 0);
    BenchRow done = MakeRow(strName + "_ops", "operations", TargetKind::None, 0, 0);
    BenchRow cut = MakeRow(strName + "_ops_cut", "operations", TargetKind::None, 0, 0);
    BenchRow faults = MakeRow(strName + "_faults", "faults", TargetKind::None, 0, 0);
    BenchRow lost = MakeRow(strName + "_handshakes_lost", "connections", TargetKind::None, 0, 0);
    BenchRow rss = MakeRow(strName + "_rss_peak", "KiB", TargetKind::None, 0, 0);
    BenchRow fds = MakeRow(strName + "_fds_after_vs_before", "x", TargetKind::AtMost, 1, 2);
    BenchRow threads = MakeRow(strName + "_threads_after_vs_before", "x", TargetKind::AtMost, 1, 2);

    // Over R soaks each row holds the worst run's figure, or the sum of the counts.
    double dRate = 0, dRss = 0, dFds = 0, dThreads = 0;
    uint64_t ullDone = 0, ullCut = 0, ullFaults = 0, ullLost = 0;
    bool bMade = true;
    for (int nRun = 0; nRun < opt.nRepeat && bMade; ++nRun) {
        Options run = opt;
        run.nSeed += nRun;
        CSoakStats stats;
        SoakFigures f;
        bMade = Soak(run, stats, f);
        if (!bMade)
            break;
        PrintReport(stats, f);
        for (size_t i = 0; i < kSoakOps; ++i) {
            ullDone += stats.done[i].load();
            ullCut += stats.cut[i].load();
        }
        ullFaults += stats.Faults();
        ullLost += stats.ullLostHandshakes.load();
        const double dRunRate = static_cast<double>(stats.ullRequests.load()) / f.dSeconds;
        dRate = nRun == 0 ? dRunRate : std::min(dRate, dRunRate);
        dRss = std::max(dRss, static_cast<double>(f.peak.nRssKiB));
        dFds = std::max(dFds, static_cast<double>(f.end.nFds) / static_cast<double>(f.start.nFds));
        dThreads = std::max(dThreads, static_cast<double>(f.end.nThreads) / static_cast<double>(f.start.nThreads));
    }
    if (bMade) {
        if (ullFaults == 0)
            requests.Set(dRate);
        done.Set(static_cast<double>(ullDone));
        cut.Set(static_cast<double>(ullCut));
        faults.Set(static_cast<double>(ullFaults));
        lost.Set(static_cast<double>(ullLost));
        rss.Set(dRss);
        fds.Set(dFds);
        threads.Set(dThreads);
    }
    return ReportRows({requests, done, cut, faults, lost, rss, fds, threads}, opt.bRows);
}
