// bench_size: what resolving a path costs the daemon. FC_FILE_SIZE_REQ of a file five
// folders deep, as a share of FC_VER_REQ round trips on the same daemon, for the daemon
// of this build and for a baseline daemon (an earlier commit, built by bench/run); the
// ratio may fall by at most 15 % from the baseline to this build.
//
//   bench_size [--daemon PATH] [--base-daemon PATH] [--seconds S] [--block N] [--repeat R] [--rows]
//
// Each run starts both daemons afresh; with R runs the rows are those of the run with the
// median comparison. Without --base-daemon only this build is measured and the
// comparison row fails.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_util.h"
#include "size_measure.h"

namespace {

constexpr double kTargetChange = 0.85;  // (ratio now) / (ratio of the baseline), at least
constexpr const char* kProgram = "bench_size";

struct Options {
    std::string strDaemon = CORVANE_BIN;
    std::string strBaseDaemon;
    double dSeconds = 2;
    int nBlock = 64;
    int nRepeat = 3;
    bool bRows = false;
};

int ParseOptions(int argc, char** argv, Options& opt)
{
    const BenchOption options[] = {{"--daemon", &opt.strDaemon},
                                   {"--base-daemon", &opt.strBaseDaemon},
                                   {"--seconds", &opt.dSeconds},
                                   {"--block", &opt.nBlock},
                                   {"--repeat", &opt.nRepeat},
                                   {"--rows", &opt.bRows}};
    const char* pszUsage =
        "usage: bench_size [--daemon PATH] [--base-daemon PATH] [--seconds S] [--block N] [--repeat R]\n"
        "                  [--rows]\n"
        "  --daemon PATH       the corvane binary (default: the one built beside this program)\n"
        "  --base-daemon PATH  the baseline corvane binary to compare with\n"
        "  --seconds S         length of one run (default 2)\n"
        "  --block N           round trips of one request on one daemon in a row (default 64)\n"
        "  --repeat R          runs; the one with the median comparison is reported (default 3)\n"
        "  --rows              tab-separated rows for bench/run instead of a table\n";
    if (!ParseArgs(argc, argv, options, pszUsage))
        return -1;
    const bool bBad = opt.dSeconds <= 0 || opt.nBlock < 1 || opt.nRepeat < 1;
    return CheckOptions(bBad,
                        "bench_size: --seconds, --block and --repeat must be positive\n");
}

// The rows of one daemon; strSuffix tells the baseline's apart.
void AppendTargetRows(const SizeRatioFigures* pFigures, const std::string& strSuffix, std::vector<BenchRow>& rows)
{
    BenchRow ver = MakeRow("size_ver_1conn" + strSuffix, "round trips/s", TargetKind::None, 0, 0);
    BenchRow size = MakeRow("size_5deep_1conn" + strSuffix, "round trips/s", TargetKind::None, 0, 0);
    BenchRow ratio = MakeRow("size_5deep_per_ver" + strSuffix, "x", TargetKind::None, 0, 3);
    BenchRow cpu = MakeRow("size_5deep_daemon_cpu" + strSuffix, "us/round trip", TargetKind::None, 0, 1);
    if (pFigures != nullptr) {
        ver.Set(pFigures->dVerRate);
        size.Set(pFigures->dSizeRate);
        ratio.Set(pFigures->dRatio);
        cpu.Set(pFigures->dSizeCpuUs);
    }
    rows.insert(rows.end(), {ver, size, ratio, cpu});
}

// One run: both daemons measured, the comparison (paired round by round: both ratios of a
// round saw the same machine) in dChange, or -1 without a baseline. False when it failed.
bool RunOnce(const Options& opt, std::vector<SizeRatioTarget>& targets, double& dChange)
{
    targets.assign(opt.strBaseDaemon.empty() ? 1 : 2, SizeRatioTarget{});
    targets[0].strBinary = opt.strDaemon;
    if (targets.size() == 2)
        targets[1].strBinary = opt.strBaseDaemon;
    if (!MeasureSizeRatios(targets, opt.dSeconds, opt.nBlock))
        return false;
    dChange = -1;
    if (targets.size() == 2) {
        std::vector<double> changes;
        for (size_t r = 0; r < targets[0].ratios.size(); ++r)
            changes.push_back(targets[0].ratios[r] / targets[1].ratios[r]);
        dChange = Median(changes);
        fprintf(stderr, "%s:   this build's ratio / the baseline's: %.3f\n", kProgram, dChange);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (ParseOptions(argc, argv, opt) != 0)
        return 2;
    std::vector<BenchRow> rows = {MachineBusyRow(kProgram, "size_machine_busy_before")};
    if (opt.strBaseDaemon.empty())
        fprintf(stderr, "%s: no --base-daemon: nothing to compare with\n", kProgram);
    fprintf(stderr, "%s: FC_FILE_SIZE_REQ of %s against FC_VER_REQ, %d x %.1f s in blocks of %d\n", kProgram,
            kDeepStbPath, opt.nRepeat, opt.dSeconds, opt.nBlock);

    struct Run {
        double dChange;
        std::vector<SizeRatioTarget> targets;
    };
    std::vector<Run> runs;
    for (int i = 0; i < opt.nRepeat; ++i) {
        Run run;
        if (!RunOnce(opt, run.targets, run.dChange))
            break;
        runs.push_back(std::move(run));
    }
    const bool bOk = static_cast<int>(runs.size()) == opt.nRepeat;
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.dChange < b.dChange; });
    const Run* pMedian = bOk ? &runs[runs.size() / 2] : nullptr;

    if (!opt.strBaseDaemon.empty())
        AppendTargetRows(pMedian != nullptr ? &pMedian->targets[1].figures : nullptr, "_base", rows);
    AppendTargetRows(pMedian != nullptr ? &pMedian->targets[0].figures : nullptr, "", rows);
    BenchRow change = MakeRow("size_5deep_per_ver_vs_base", "x", TargetKind::AtLeast, kTargetChange, 3);
    if (pMedian != nullptr && pMedian->dChange >= 0)
        change.Set(pMedian->dChange);
    rows.push_back(change);
    return ReportRows(rows, opt.bRows);
}
