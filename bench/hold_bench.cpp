// bench_hold: the daemon's resident memory while many sessions hold what they may make it
// keep: 64 sessions each holding a 10 MiB file opened for download (the most that hosts
// can make it read into memory without asking for a single data frame), and 48 sessions
// each in a directory download of a 3,000-entry tree with 3.4 KB paths (the entry lists
// it keeps). Then what a daemon full of sessions costs at the default caps (threads,
// resident and virtual memory; info rows). Optionally the first two for a baseline
// daemon, for comparison.
//
//   bench_hold [--daemon PATH] [--base-daemon PATH] [--sessions N] [--dir-sessions N]
//              [--repeat R] [--rows]
//
// Each run starts a daemon of its own; the row holds the largest figure of the R runs.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_util.h"
#include "dirhold_measure.h"
#include "full_measure.h"
#include "hold_measure.h"
#include "net/sessman.h"

namespace {

// The aim shown beside the figure: the buffer budget (256 MiB) and what the process needs
// besides it.
constexpr double kAimRssMiB = 300;
// The largest file that an open reads whole into memory.
constexpr uint64_t kHeldBytes = 10ull << 20;
// The directory downloads: resident memory above the idle daemon's, and the tree.
constexpr double kTargetDirRssMiB = 320;
constexpr int kTreeEntries = 3000;
constexpr int kTreePathBytes = 3400;
constexpr const char* kProgram = "bench_hold";

struct Options {
    std::string strDaemon = CORVANE_BIN;
    std::string strBaseDaemon;
    int nSessions = 64;
    int nDirSessions = 48;
    int nRepeat = 1;
    bool bRows = false;
};

int ParseOptions(int argc, char** argv, Options& opt)
{
    const BenchOption options[] = {{"--daemon", &opt.strDaemon},
                                   {"--base-daemon", &opt.strBaseDaemon},
                                   {"--sessions", &opt.nSessions},
                                   {"--dir-sessions", &opt.nDirSessions},
                                   {"--repeat", &opt.nRepeat},
                                   {"--rows", &opt.bRows}};
    const char* pszUsage =
        "usage: bench_hold [--daemon PATH] [--base-daemon PATH] [--sessions N] [--dir-sessions N]\n"
        "                  [--repeat R] [--rows]\n"
        "  --daemon PATH       the corvane binary (default: the one built beside this program)\n"
        "  --base-daemon PATH  a baseline corvane binary, measured for info rows\n"
        "  --sessions N        sessions holding the file (default 64)\n"
        "  --dir-sessions N    sessions in a directory download of the tree (default 48)\n"
        "  --repeat R          runs; the largest figure is reported (default 1)\n"
        "  --rows              tab-separated rows for bench/run instead of a table\n";
    if (!ParseArgs(argc, argv, options, pszUsage))
        return -1;
    const bool bBad = opt.nSessions < 1 || opt.nDirSessions < 1 || opt.nRepeat < 1;
    return CheckOptions(bBad, "bench_hold: --sessions, --dir-sessions and --repeat must be positive\n");
}

// The largest VmRSS (MiB) of R runs into row, and the VmRSS before the sessions into before.
void MeasureRows(const Options& opt, const std::string& strBinary, const std::string& strFile, BenchRow& row,
                 BenchRow* pBefore)
{
    double dWorst = 0, dBefore = 0;
    for (int i = 0; i < opt.nRepeat; ++i) {
        HoldFigures f;
        if (!MeasureHold(strBinary, strFile, kHeldBytes, opt.nSessions, f))
            return;
        dWorst = std::max(dWorst, static_cast<double>(f.nRssKiB) / 1024);
        dBefore = std::max(dBefore, static_cast<double>(f.nRssBeforeKiB) / 1024);
    }
    row.Set(dWorst);
    if (pBefore != nullptr)
        pBefore->Set(dBefore);
}

// The largest VmRSS above the idle daemon's (MiB) of R runs into row, and how many
// sessions held the whole list in the run that made it into pListed.
void MeasureDirRows(const Options& opt, const std::string& strBinary, BenchRow& row, BenchRow* pListed)
{
    double dWorst = -1;
    for (int i = 0; i < opt.nRepeat; ++i) {
        DirHoldFigures f;
        if (!MeasureDirHold(strBinary, opt.nDirSessions, kTreeEntries, kTreePathBytes, f))
            return;
        const double dAbove = static_cast<double>(f.nRssKiB - f.nRssBeforeKiB) / 1024;
        if (dAbove > dWorst && pListed != nullptr)
            pListed->Set(f.nListed);
        dWorst = std::max(dWorst, dAbove);
    }
    row.Set(dWorst);
}

// A daemon full of sessions at the default caps: threads and memory, once.
void MeasureFullRows(const Options& opt, std::vector<BenchRow>& rows)
{
    const std::string strName = "full_" + std::to_string(kMaxSessions) + "x" + std::to_string(kMaxSessionsPerHost) +
                                "perhost";
    BenchRow hosts = MakeRow(strName + "_addresses", "addresses", TargetKind::None, 0, 0);
    BenchRow threads = MakeRow(strName + "_threads_added", "threads", TargetKind::None, 0, 0);
    BenchRow rss = MakeRow(strName + "_rss_above_idle", "MiB", TargetKind::None, 0, 1);
    BenchRow vm = MakeRow(strName + "_vmsize_above_idle", "MiB", TargetKind::None, 0, 1);
    fprintf(stderr, "%s: a daemon full of sessions at the default caps (%d, %d per address)\n", kProgram,
            kMaxSessions, kMaxSessionsPerHost);
    FullFigures f;
    if (MeasureFull(opt.strDaemon, kMaxSessions, kMaxSessionsPerHost, f) && f.bNextRefused) {
        hosts.Set(f.nHosts);
        threads.Set(static_cast<double>(f.nThreads - f.nThreadsBefore));
        rss.Set(static_cast<double>(f.nRssKiB - f.nRssBeforeKiB) / 1024);
        vm.Set(static_cast<double>(f.nVmKiB - f.nVmBeforeKiB) / 1024);
    } else if (f.nThreads > 0) {
        fprintf(stderr, "%s: the full daemon served one session more\n", kProgram);
    }
    rows.insert(rows.end(), {hosts, threads, rss, vm});
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (ParseOptions(argc, argv, opt) != 0)
        return 2;
    CScratchDir scratch;
    if (scratch.Create(kProgram) != 0)
        return 1;
    const std::string strFile = scratch.Path() + "/hold.bin";
    uint64_t ullSum = 0;
    if (!WritePatternFile(strFile, kHeldBytes, ullSum)) {
        fprintf(stderr, "%s: the test file cannot be written\n", kProgram);
        return 1;
    }
    const std::string strName =
        "hold_" + std::to_string(opt.nSessions) + "x" + std::to_string(kHeldBytes / (1 << 20)) + "MiB_dn_rss";
    const std::string strDirName = "hold_" + std::to_string(opt.nDirSessions) + "x_dirdn_" +
                                   std::to_string(kTreeEntries) + "x" + std::to_string(kTreePathBytes) +
                                   "B_rss_above_idle";
    std::vector<BenchRow> rows;
    if (!opt.strBaseDaemon.empty()) {
        BenchRow base = MakeRow(strName + "_base", "MiB", TargetKind::None, 0, 1);
        fprintf(stderr, "%s: baseline, %d sessions each holding %s open for download\n", kProgram, opt.nSessions,
                kHoldStbPath);
        MeasureRows(opt, opt.strBaseDaemon, strFile, base, nullptr);
        BenchRow dirBase = MakeRow(strDirName + "_base", "MiB", TargetKind::None, 0, 1);
        fprintf(stderr, "%s: baseline, %d sessions each in a directory download of %s\n", kProgram,
                opt.nDirSessions, kDirHoldStbPath);
        MeasureDirRows(opt, opt.strBaseDaemon, dirBase, nullptr);
        rows.insert(rows.end(), {base, dirBase});
    }
    BenchRow before = MakeRow(strName + "_before", "MiB", TargetKind::None, 0, 1);
    BenchRow held = MakeAimRow(strName, "MiB", TargetKind::AtMost, kAimRssMiB, 1);
    fprintf(stderr, "%s: %d sessions each holding %s open for download\n", kProgram, opt.nSessions, kHoldStbPath);
    MeasureRows(opt, opt.strDaemon, strFile, held, &before);
    BenchRow dirHeld = MakeRow(strDirName, "MiB", TargetKind::AtMost, kTargetDirRssMiB, 1);
    BenchRow dirListed = MakeRow(strDirName + "_whole_lists", "sessions", TargetKind::None, 0, 0);
    fprintf(stderr, "%s: %d sessions each in a directory download of %s\n", kProgram, opt.nDirSessions,
            kDirHoldStbPath);
    MeasureDirRows(opt, opt.strDaemon, dirHeld, &dirListed);
    rows.insert(rows.end(), {before, held, dirHeld, dirListed});
    MeasureFullRows(opt, rows);
    return ReportRows(rows, opt.bRows);
}
