// bench_size: what resolving a path costs the daemon. FC_FILE_SIZE_REQ of a file five
// folders deep, as a share of FC_VER_REQ round trips on the same daemon, for the daemon
// of this build and for a baseline daemon (an earlier commit, built by bench/run); the
// ratio may fall by at most 15 % from the baseline to this build. The daemon of this build
// is measured a second time with openat2 refused (run through corvane_no_openat2, as on a
// kernel before 5.6), where it resolves paths one name at a time; those rows are
// information.
//
//   bench_size [--daemon PATH] [--base-daemon PATH] [--no-openat2 PATH] [--seconds S] [--block N]
//              [--repeat R] [--rows]
//
// Each run starts every daemon afresh; with R runs the rows are those of the run with the
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
    std::string strNoOpenat2 = CORVANE_NO_OPENAT2_BIN;
    double dSeconds = 2;
    int nBlock = 64;
    int nRepeat = 3;
    bool bRows = false;
};

int ParseOptions(int argc, char** argv, Options& opt)
{
    const BenchOption options[] = {{"--daemon", &opt.strDaemon},
                                   {"--base-daemon", &opt.strBaseDaemon},
                                   {"--no-openat2", &opt.strNoOpenat2},
                                   {"--seconds", &opt.dSeconds},
                                   {"--block", &opt.nBlock},
                                   {"--repeat", &opt.nRepeat},
                                   {"--rows", &opt.bRows}};
    const char* pszUsage =
        "usage: bench_size [--daemon PATH] [--base-daemon PATH] [--no-openat2 PATH] [--seconds S] [--block N]\n"
        "                  [--repeat R] [--rows]\n"
        "  --daemon PATH       the corvane binary (default: the one built beside this program)\n"
        "  --base-daemon PATH  the baseline corvane binary to compare with\n"
        "  --no-openat2 PATH   the program that runs the daemon with openat2 refused (default: the\n"
        "                      corvane_no_openat2 built beside this program; \"\": not measured so)\n"
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

// The comparison of two targets' ratios, paired round by round (both ratios of a round saw
// the same machine).
double PairedChange(const SizeRatioTarget& now, const SizeRatioTarget& base)
{
    std::vector<double> changes;
    for (size_t r = 0; r < now.ratios.size(); ++r)
        changes.push_back(now.ratios[r] / base.ratios[r]);
    return Median(changes);
}

// What one run measured: this build's daemon first, then the baseline's and this build's
// with openat2 refused where they are measured (their indexes, or -1).
struct Run {
    std::vector<SizeRatioTarget> targets;
    int nBase = -1;
    int nNoOpenat2 = -1;
    double dChange = -1;            // this build against the baseline; -1 without one
    double dNoOpenat2Change = -1;   // this build without openat2 against the baseline
};

// One run: every daemon measured. False when it failed.
bool RunOnce(const Options& opt, Run& run)
{
    run.targets.assign(1, SizeRatioTarget{});
    run.targets[0].strBinary = opt.strDaemon;
    if (!opt.strBaseDaemon.empty()) {
        run.nBase = static_cast<int>(run.targets.size());
        run.targets.push_back(SizeRatioTarget{opt.strBaseDaemon, "", {}, {}});
    }
    if (!opt.strNoOpenat2.empty()) {
        run.nNoOpenat2 = static_cast<int>(run.targets.size());
        run.targets.push_back(SizeRatioTarget{opt.strDaemon, opt.strNoOpenat2, {}, {}});
    }
    if (!MeasureSizeRatios(run.targets, opt.dSeconds, opt.nBlock))
        return false;
    if (run.nBase >= 0) {
        run.dChange = PairedChange(run.targets[0], run.targets[run.nBase]);
        fprintf(stderr, "%s:   this build's ratio / the baseline's: %.3f\n", kProgram, run.dChange);
        if (run.nNoOpenat2 >= 0) {
            run.dNoOpenat2Change = PairedChange(run.targets[run.nNoOpenat2], run.targets[run.nBase]);
            fprintf(stderr, "%s:   this build's ratio without openat2 / the baseline's: %.3f\n", kProgram,
                    run.dNoOpenat2Change);
        }
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

    std::vector<Run> runs;
    for (int i = 0; i < opt.nRepeat; ++i) {
        Run run;
        if (!RunOnce(opt, run))
            break;
        runs.push_back(std::move(run));
    }
    const bool bOk = static_cast<int>(runs.size()) == opt.nRepeat;
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.dChange < b.dChange; });
    const Run* pMedian = bOk ? &runs[runs.size() / 2] : nullptr;

    if (!opt.strBaseDaemon.empty())
        AppendTargetRows(pMedian != nullptr ? &pMedian->targets[pMedian->nBase].figures : nullptr, "_base", rows);
    AppendTargetRows(pMedian != nullptr ? &pMedian->targets[0].figures : nullptr, "", rows);
    BenchRow change = MakeRow("size_5deep_per_ver_vs_base", "x", TargetKind::AtLeast, kTargetChange, 3);
    if (pMedian != nullptr && pMedian->dChange >= 0)
        change.Set(pMedian->dChange);
    rows.push_back(change);
    if (!opt.strNoOpenat2.empty()) {
        AppendTargetRows(pMedian != nullptr ? &pMedian->targets[pMedian->nNoOpenat2].figures : nullptr, "_no_openat2",
                         rows);
        if (!opt.strBaseDaemon.empty()) {
            BenchRow fallback = MakeRow("size_5deep_per_ver_no_openat2_vs_base", "x", TargetKind::None, 0, 3);
            if (pMedian != nullptr && pMedian->dNoOpenat2Change >= 0)
                fallback.Set(pMedian->dNoOpenat2Change);
            rows.push_back(fallback);
        }
    }
    return ReportRows(rows, opt.bRows);
}
