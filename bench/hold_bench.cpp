// bench_hold: the daemon's resident memory while 64 sessions each hold a 10 MiB file opened
// for download, the most that hosts can make it read into memory without asking for a
// single data frame. Optionally the same for a baseline daemon, for comparison.
//
//   bench_hold [--daemon PATH] [--base-daemon PATH] [--sessions N] [--repeat R] [--rows]
//
// Each run starts a daemon of its own; the row holds the largest figure of the R runs.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_util.h"
#include "hold_measure.h"

namespace {

// The aim shown beside the figure: the buffer budget (256 MiB) and what the process needs
// besides it.
constexpr double kAimRssMiB = 300;
// The largest file that an open reads whole into memory.
constexpr uint64_t kHeldBytes = 10ull << 20;
constexpr const char* kProgram = "bench_hold";

struct Options {
    std::string strDaemon = CORVANE_BIN;
    std::string strBaseDaemon;
    int nSessions = 64;
    int nRepeat = 1;
    bool bRows = false;
};

int ParseOptions(int argc, char** argv, Options& opt)
{
    const BenchOption options[] = {{"--daemon", &opt.strDaemon},
                                   {"--base-daemon", &opt.strBaseDaemon},
                                   {"--sessions", &opt.nSessions},
                                   {"--repeat", &opt.nRepeat},
                                   {"--rows", &opt.bRows}};
    const char* pszUsage =
        "usage: bench_hold [--daemon PATH] [--base-daemon PATH] [--sessions N] [--repeat R] [--rows]\n"
        "  --daemon PATH       the corvane binary (default: the one built beside this program)\n"
        "  --base-daemon PATH  a baseline corvane binary, measured for an info row\n"
        "  --sessions N        sessions holding the file (default 64)\n"
        "  --repeat R          runs; the largest figure is reported (default 1)\n"
        "  --rows              tab-separated rows for bench/run instead of a table\n";
    if (!ParseArgs(argc, argv, options, pszUsage))
        return -1;
    const bool bBad = opt.nSessions < 1 || opt.nRepeat < 1;
    return CheckOptions(bBad,
                        "bench_hold: --sessions and --repeat must be positive\n");
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
    std::vector<BenchRow> rows;
    if (!opt.strBaseDaemon.empty()) {
        BenchRow base = MakeRow(strName + "_base", "MiB", TargetKind::None, 0, 1);
        fprintf(stderr, "%s: baseline, %d sessions each holding %s open for download\n", kProgram, opt.nSessions,
                kHoldStbPath);
        MeasureRows(opt, opt.strBaseDaemon, strFile, base, nullptr);
        rows.push_back(base);
    }
    BenchRow before = MakeRow(strName + "_before", "MiB", TargetKind::None, 0, 1);
    BenchRow held = MakeAimRow(strName, "MiB", TargetKind::AtMost, kAimRssMiB, 1);
    fprintf(stderr, "%s: %d sessions each holding %s open for download\n", kProgram, opt.nSessions, kHoldStbPath);
    MeasureRows(opt, opt.strDaemon, strFile, held, &before);
    rows.insert(rows.end(), {before, held});
    return ReportRows(rows, opt.bRows);
}
