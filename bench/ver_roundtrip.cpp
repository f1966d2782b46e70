// bench_ver: the cost of the smallest exchange an STB makes, FC_VER_REQ, against the
// real daemon over loopback, and what an idle session costs the daemon in memory.
//
//   bench_ver [--daemon PATH] [--base-daemon PATH] [--seconds S] [--repeat R] [--conns N]
//             [--idle N] [--no-trace] [--poll-page] [--rows]
//
// The round-trip measurements run R times, each against a fresh daemon, and report the
// run with the median rate: on a shared two-core machine a single run says little. The
// single connection is also measured against the floor server (bench/floor_server.cpp),
// which answers FC_VER_REQ with one receive, the frame codec and one send: the daemon and
// the floor take turns in blocks of a few milliseconds, both on the other CPU than the
// measuring side (as the STB and the PC have a processor each), and the daemon's rate as
// a share of the floor's is the median over every pair of blocks of the R runs. With
// --base-daemon the same turns are taken with a baseline daemon (an earlier commit, built
// by bench/run) in the floor's place: this build's rate as a share of the baseline's says
// what the changes since cost the exchange, on any machine. With --poll-page every
// daemon's status page is read every second meanwhile.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_util.h"
#include "machine_load.h"
#include "ver_measure.h"

namespace {

constexpr double kTargetOfFloorPercent = 95;  // of the floor server's rate, one connection
constexpr double kTargetOfBasePercent = 95;   // of the baseline daemon's rate, one connection
// Aims, shown beside absolute figures: the host's wake-ups and the C library's memory
// decide them as much as the daemon does.
constexpr double kAimRoundTrips = 20000;  // per second, one connection
constexpr double kAimIdleKiB = 100;       // resident memory per idle session

struct Options {
    std::string strDaemon = CORVANE_BIN;
    std::string strBaseDaemon;
    double dSeconds = 2;
    int nRepeat = 3;
    int nConns = 100;
    int nIdle = 1000;
    bool bTrace = true;
    bool bPollPage = false;
    bool bRows = false;
};

// The run with the median rate.
SerialFigures MedianRun(std::vector<SerialFigures> runs)
{
    std::sort(runs.begin(), runs.end(),
              [](const SerialFigures& a, const SerialFigures& b) { return a.dRate < b.dRate; });
    return runs[runs.size() / 2];
}

// Runs a serial measurement nRepeat times; the figures of the run with the median rate.
bool MedianSerial(const Options& opt, bool bTrace, SerialFigures& median)
{
    std::vector<SerialFigures> runs;
    for (int i = 0; i < opt.nRepeat; ++i) {
        SerialFigures f;
        if (!MeasureSerial(opt.strDaemon, opt.dSeconds, bTrace, f))
            return false;
        runs.push_back(f);
    }
    median = MedianRun(runs);
    return true;
}

// nRepeat runs on a fresh daemon and floor server (or baseline daemon), taking turns in
// blocks. The daemon's median rate, the floor's, and the median of every pair of blocks'
// ratio (percent).
bool PairedSerial(const Options& opt, const std::string& strFloor, bool bFloorIsDaemon, double& dDaemonRate,
                  double& dFloorRate, double& dOfFloor)
{
    std::vector<double> daemonRates, floorRates, ratios;
    for (int i = 0; i < opt.nRepeat; ++i) {
        SerialFigures daemon, floor;
        std::vector<double> runRatios;
        if (!MeasureSerialPair(opt.strDaemon, strFloor, bFloorIsDaemon, opt.dSeconds, daemon, floor, runRatios))
            return false;
        daemonRates.push_back(daemon.dRate);
        floorRates.push_back(floor.dRate);
        ratios.insert(ratios.end(), runRatios.begin(), runRatios.end());
        fprintf(stderr, "bench_ver:   run %d: the daemon at %.1f %% of the %s (median of %zu pairs)\n", i + 1,
                Median(runRatios), bFloorIsDaemon ? "baseline daemon" : "floor server", runRatios.size());
    }
    dDaemonRate = Median(daemonRates);
    dFloorRate = Median(floorRates);
    dOfFloor = Median(ratios);
    return true;
}

bool MedianConcurrent(const Options& opt, double& dMedian)
{
    std::vector<double> rates;
    for (int i = 0; i < opt.nRepeat; ++i) {
        double dRate = 0;
        if (!MeasureConcurrent(opt.strDaemon, opt.dSeconds, opt.nConns, dRate))
            return false;
        rates.push_back(dRate);
    }
    std::sort(rates.begin(), rates.end());
    dMedian = rates[rates.size() / 2];
    return true;
}

int ParseOptions(int argc, char** argv, Options& opt)
{
    const BenchOption options[] = {{"--daemon", &opt.strDaemon}, {"--base-daemon", &opt.strBaseDaemon},
                                   {"--seconds", &opt.dSeconds},
                                   {"--repeat", &opt.nRepeat},   {"--conns", &opt.nConns},
                                   {"--idle", &opt.nIdle},       {"--no-trace", &opt.bTrace, false},
                                   {"--poll-page", &opt.bPollPage}, {"--rows", &opt.bRows}};
    const char* pszUsage =
        "usage: bench_ver [--daemon PATH] [--base-daemon PATH] [--seconds S] [--repeat R] [--conns N]\n"
        "                 [--idle N] [--no-trace] [--poll-page] [--rows]\n"
        "  --daemon PATH       the corvane binary (default: the one built beside this program)\n"
        "  --base-daemon PATH  a baseline corvane binary, taking turns with this one as the floor does\n"
        "  --seconds S         length of each round-trip run (default 2)\n"
        "  --repeat R          runs of each round-trip measurement; the median is reported (default 3)\n"
        "  --conns N           connections of the concurrent measurement (default 100)\n"
        "  --idle N            idle sessions of the memory measurement (default 1000)\n"
        "  --no-trace          skip the measurement with the diagnostic lines on\n"
        "  --poll-page         read every daemon's status page every second through every measurement\n"
        "  --rows              tab-separated rows for bench/run instead of a table\n";
    if (!ParseArgs(argc, argv, options, pszUsage))
        return -1;
    const bool bBad = opt.dSeconds <= 0 || opt.nRepeat < 1 || opt.nConns < 1 || opt.nIdle < 1;
    return CheckOptions(bBad,
                        "bench_ver: --seconds, --repeat, --conns and --idle must be positive\n");
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (ParseOptions(argc, argv, opt) != 0)
        return 2;
    CBenchDaemon::PollPages(opt.bPollPage);
    std::vector<BenchRow> rows;
    WarnIfBusy("bench_ver", 500, 0.10);

    BenchRow serial = MakeAimRow("ver_1conn", "round trips/s", TargetKind::AtLeast, kAimRoundTrips, 0);
    BenchRow p50 = MakeRow("ver_1conn_p50", "us", TargetKind::None, 0, 1);
    BenchRow p99 = MakeRow("ver_1conn_p99", "us", TargetKind::None, 0, 1);
    BenchRow cpu = MakeRow("ver_1conn_daemon_cpu", "us/round trip", TargetKind::None, 0, 1);
    SerialFigures f;
    fprintf(stderr, "bench_ver: FC_VER_REQ, 1 connection, %d x %.1f s\n", opt.nRepeat, opt.dSeconds);
    if (MedianSerial(opt, false, f)) {
        serial.Set(f.dRate);
        p50.Set(f.dP50Us);
        p99.Set(f.dP99Us);
        cpu.Set(f.dServerCpuUs);
    }
    rows.insert(rows.end(), {serial, p50, p99, cpu});

    BenchRow pairedRate = MakeRow("ver_1conn_2cpu", "round trips/s", TargetKind::None, 0, 0);
    BenchRow floorRate = MakeRow("ver_1conn_2cpu_floor", "round trips/s", TargetKind::None, 0, 0);
    BenchRow ofFloor = MakeRow("ver_1conn_2cpu_of_floor", "%", TargetKind::AtLeast, kTargetOfFloorPercent, 1);
    double dPairedRate = 0, dFloorRate = 0, dOfFloor = 0;
    fprintf(stderr, "bench_ver: FC_VER_REQ, 1 connection, %d x %.1f s each on the daemon and the floor server\n",
            opt.nRepeat, opt.dSeconds);
    if (PairedSerial(opt, CORVANE_FLOOR_BIN, false, dPairedRate, dFloorRate, dOfFloor)) {
        pairedRate.Set(dPairedRate);
        floorRate.Set(dFloorRate);
        ofFloor.Set(dOfFloor);
    }
    rows.insert(rows.end(), {pairedRate, floorRate, ofFloor});

    if (!opt.strBaseDaemon.empty()) {
        BenchRow baseRate = MakeRow("ver_1conn_2cpu_base", "round trips/s", TargetKind::None, 0, 0);
        BenchRow ofBase = MakeRow("ver_1conn_2cpu_of_base", "%", TargetKind::AtLeast, kTargetOfBasePercent, 1);
        fprintf(stderr, "bench_ver: FC_VER_REQ, 1 connection, %d x %.1f s each on the daemon and the baseline daemon\n",
                opt.nRepeat, opt.dSeconds);
        if (PairedSerial(opt, opt.strBaseDaemon, true, dPairedRate, dFloorRate, dOfFloor)) {
            baseRate.Set(dFloorRate);
            ofBase.Set(dOfFloor);
        }
        rows.insert(rows.end(), {baseRate, ofBase});
    }

    if (opt.bTrace) {
        BenchRow traced = MakeRow("ver_1conn_diagnostics_on", "round trips/s", TargetKind::None, 0, 0);
        fprintf(stderr, "bench_ver: FC_VER_REQ, 1 connection, diagnostic lines on, %d x %.1f s\n", opt.nRepeat,
                opt.dSeconds);
        if (MedianSerial(opt, true, f))
            traced.Set(f.dRate);
        rows.push_back(traced);
    }

    BenchRow concurrent =
        MakeRow("ver_" + std::to_string(opt.nConns) + "conn_total", "round trips/s", TargetKind::None, 0, 0);
    double dRate = 0;
    fprintf(stderr, "bench_ver: FC_VER_REQ, %d connections, %d x %.1f s\n", opt.nConns, opt.nRepeat, opt.dSeconds);
    if (MedianConcurrent(opt, dRate))
        concurrent.Set(dRate);
    rows.push_back(concurrent);

    const std::string strIdle = "idle_rss_per_sess_" + std::to_string(opt.nIdle);
    BenchRow openRate = MakeRow("sess_open_" + std::to_string(opt.nIdle), "sessions/s", TargetKind::None, 0, 0);
    BenchRow perSess = MakeAimRow(strIdle, "KiB", TargetKind::AtMost, kAimIdleKiB, 1);
    BenchRow shutdown = MakeRow("sigterm_exit_" + std::to_string(opt.nIdle) + "sess", "ms", TargetKind::None, 0, 0);
    IdleFigures idle;
    fprintf(stderr, "bench_ver: %d idle sessions\n", opt.nIdle);
    if (MeasureIdle(opt.strDaemon, opt.nIdle, false, true, idle)) {
        openRate.Set(idle.dOpenRate);
        perSess.Set(idle.dKiBPerSess);
        if (idle.dShutdownMs >= 0)
            shutdown.Set(idle.dShutdownMs);
    }
    BenchRow perSessLarge = MakeAimRow(strIdle + "_after_64k_frame", "KiB", TargetKind::AtMost, kAimIdleKiB, 1);
    fprintf(stderr, "bench_ver: %d idle sessions, each after one frame of the largest size\n", opt.nIdle);
    if (MeasureIdle(opt.strDaemon, opt.nIdle, true, false, idle))
        perSessLarge.Set(idle.dKiBPerSess);
    rows.insert(rows.end(), {openRate, perSess, perSessLarge, shutdown});

    if (opt.bPollPage)
        rows.push_back(PagePollRow("ver_page_polls"));
    return ReportRows(rows, opt.bRows);
}
