// bench_xfer: large-file downloads and uploads through the real daemon over loopback,
// each held against a floor measured in the same run.
//
//   bench_xfer [--download-mib N] [--upload-mib N] [--repeat R] [--no-paced] [--rows]
//
// Paced downloads (the shipped daemon sleeps 1 ms after every full 32 KiB frame) are held
// against the ceiling that pacing allows; downloads from a daemon built without the
// pause against a plain pread + checksum + send loop; uploads against plain pwrites of
// the same blocks. The unpaced and upload measurements run R times, alternating with
// their floor; each ratio is the median of the R paired ratios.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench_files.h"
#include "daemon_proc.h"
#include "machine_load.h"
#include "result_table.h"
#include "xfer_floors.h"
#include "xfer_measure.h"

namespace {

constexpr double kTargetPacedPercent = 95;
constexpr double kTargetUnpacedPercent = 80;
constexpr double kTargetUploadPercent = 60;
constexpr int kSleepSamples = 1000;
constexpr size_t kUploadBlock = 65525;  // the largest frame: LEN 0xFFFF with a 64-bit offset
constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kGiB = kMiB * 1024.0;

struct Options {
    uint64_t ullDownloadMiB = 1024;
    uint64_t ullUploadMiB = 1024;
    int nRepeat = 3;
    bool bPaced = true;
    bool bRows = false;
};

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool StartDaemon(CDaemonProc& daemon, const char* pszBinary)
{
    std::string strError;
    if (daemon.Start(pszBinary, false, strError) == 0)
        return true;
    fprintf(stderr, "bench_xfer: %s (%s)\n", strError.c_str(), pszBinary);
    return false;
}

// The test file appears in the daemon's shared folder as a hard link: one copy on the
// disk and in the page cache for every daemon of the run.
bool ShareFile(const CDaemonProc& daemon, const std::string& strFile, const std::string& strName)
{
    if (link(strFile.c_str(), (daemon.ShareDir() + "/" + strName).c_str()) == 0)
        return true;
    perror("bench_xfer: link into the shared folder");
    return false;
}

struct TestFile {
    std::string strPath;
    uint64_t ullSize = 0;
    uint64_t ullSum = 0;
};

void PacedRows(const Options& opt, const CDaemonProc& daemon, const TestFile& file, uint8_t ucRequest,
               std::vector<BenchRow>& rows)
{
    char szName[64];
    snprintf(szName, sizeof(szName), "dn_paced_0x%02x_%lluMiB", ucRequest,
             static_cast<unsigned long long>(opt.ullDownloadMiB));
    const std::string strName = szName;
    BenchRow sleep = MakeRow(strName + "_sleep_1ms_median", "us", TargetKind::None, 0, 1);
    BenchRow sleepMean = MakeRow(strName + "_sleep_1ms_mean", "us", TargetKind::None, 0, 1);
    BenchRow rate = MakeRow(strName, "MiB/s", TargetKind::None, 0, 1);
    BenchRow ceiling = MakeRow(strName + "_ceiling", "MiB/s", TargetKind::None, 0, 1);
    BenchRow share = MakeRow(strName + "_of_ceiling", "%", TargetKind::AtLeast, kTargetPacedPercent, 1);
    BenchRow frame = MakeRow(strName + "_per_full_frame", "us", TargetKind::None, 0, 1);
    BenchRow cpu = MakeRow(strName + "_daemon_cpu", "s/GiB", TargetKind::None, 0, 3);
    // The ceiling counts the median sleep: what pacing costs when the machine lets it.
    const SleepFigures sleepUs = MeasureSleep(kSleepSamples);
    const double dSleepUs = sleepUs.dMedianUs;
    sleep.Set(dSleepUs);
    sleepMean.Set(sleepUs.dMeanUs);
    fprintf(stderr, "bench_xfer: paced download with 0x%02x, %llu MiB (nanosleep(1 ms): median %.1f us, mean %.1f us)\n",
            ucRequest, static_cast<unsigned long long>(opt.ullDownloadMiB), dSleepUs, sleepUs.dMeanUs);
    XferRun run;
    if (DaemonDownload(daemon, "big.bin", file.ullSize, file.ullSum, ucRequest, run)) {
        const double dMiB = static_cast<double>(file.ullSize) / kMiB;
        const double dCeiling = dMiB / (static_cast<double>(run.ullFullFrames) * dSleepUs / 1e6);
        rate.Set(dMiB / run.dSeconds);
        ceiling.Set(dCeiling);
        share.Set(100 * rate.dValue / dCeiling);
        frame.Set(run.dSeconds * 1e6 / static_cast<double>(run.ullFullFrames));
        cpu.Set(run.dDaemonCpu / (static_cast<double>(file.ullSize) / kGiB));
        fprintf(stderr, "bench_xfer:   %.2f s, %llu full frames, %.1f MiB/s (ceiling %.1f)\n", run.dSeconds,
                static_cast<unsigned long long>(run.ullFullFrames), rate.dValue, dCeiling);
    }
    rows.insert(rows.end(), {sleep, sleepMean, rate, ceiling, share, frame, cpu});
}

void UnpacedRows(const Options& opt, const CDaemonProc& daemon, const TestFile& file, std::vector<BenchRow>& rows)
{
    const std::string strName = "dn_nopace_0x23_" + std::to_string(opt.ullDownloadMiB) + "MiB";
    BenchRow rate = MakeRow(strName, "MiB/s", TargetKind::None, 0, 1);
    BenchRow plain = MakeRow("dn_plain_loop_" + std::to_string(opt.ullDownloadMiB) + "MiB", "MiB/s", TargetKind::None,
                             0, 1);
    BenchRow share = MakeRow(strName + "_of_plain", "%", TargetKind::AtLeast, kTargetUnpacedPercent, 1);
    BenchRow cpu = MakeRow(strName + "_daemon_cpu", "s/GiB", TargetKind::None, 0, 3);
    const double dMiB = static_cast<double>(file.ullSize) / kMiB;
    std::vector<double> daemonRates, plainRates, ratios, cpus;
    for (int i = 0; i < opt.nRepeat; ++i) {
        double dPlain = 0;
        XferRun run;
        if (!PlainSendLoop(file.strPath, file.ullSize, dPlain) ||
            !DaemonDownload(daemon, "big.bin", file.ullSize, file.ullSum, 0x23, run))
            break;
        plainRates.push_back(dMiB / dPlain);
        daemonRates.push_back(dMiB / run.dSeconds);
        ratios.push_back(100 * dPlain / run.dSeconds);
        cpus.push_back(run.dDaemonCpu / (static_cast<double>(file.ullSize) / kGiB));
        fprintf(stderr, "bench_xfer:   run %d: daemon %.1f MiB/s, plain loop %.1f MiB/s\n", i + 1, daemonRates.back(),
                plainRates.back());
    }
    if (static_cast<int>(ratios.size()) == opt.nRepeat) {
        rate.Set(Median(daemonRates));
        plain.Set(Median(plainRates));
        share.Set(Median(ratios));
        cpu.Set(Median(cpus));
    }
    rows.insert(rows.end(), {rate, plain, share, cpu});
}

void UploadRows(const Options& opt, const CDaemonProc& daemon, std::vector<BenchRow>& rows)
{
    const std::string strName = "up_0x28_" + std::to_string(opt.ullUploadMiB) + "MiB";
    BenchRow rate = MakeRow(strName, "MiB/s", TargetKind::None, 0, 1);
    BenchRow plain = MakeRow("up_plain_pwrite_" + std::to_string(opt.ullUploadMiB) + "MiB", "MiB/s", TargetKind::None,
                             0, 1);
    BenchRow share = MakeRow(strName + "_of_pwrite", "%", TargetKind::AtLeast, kTargetUploadPercent, 1);
    BenchRow cpu = MakeRow(strName + "_daemon_cpu", "s/GiB", TargetKind::None, 0, 3);
    const CUploadBlocks blocks(kUploadBlock);
    const uint64_t ullSize = opt.ullUploadMiB << 20;
    const double dMiB = static_cast<double>(ullSize) / kMiB;
    const std::string strTarget = daemon.ShareDir() + "/up.bin";
    std::vector<double> daemonRates, plainRates, ratios, cpus;
    for (int i = 0; i < opt.nRepeat; ++i) {
        double dPlain = 0;
        XferRun run;
        if (!PlainPwrite(daemon.ShareDir() + "/plain.bin", blocks, ullSize, dPlain))
            break;
        const bool bOk = DaemonUpload(daemon, "up.bin", blocks, ullSize, run) && CheckUploaded(strTarget, blocks, ullSize);
        unlink(strTarget.c_str());
        if (!bOk)
            break;
        plainRates.push_back(dMiB / dPlain);
        daemonRates.push_back(dMiB / run.dSeconds);
        ratios.push_back(100 * dPlain / run.dSeconds);
        cpus.push_back(run.dDaemonCpu / (static_cast<double>(ullSize) / kGiB));
        fprintf(stderr, "bench_xfer:   run %d: daemon %.1f MiB/s, plain pwrite %.1f MiB/s\n", i + 1,
                daemonRates.back(), plainRates.back());
    }
    if (static_cast<int>(ratios.size()) == opt.nRepeat) {
        rate.Set(Median(daemonRates));
        plain.Set(Median(plainRates));
        share.Set(Median(ratios));
        cpu.Set(Median(cpus));
    }
    rows.insert(rows.end(), {rate, plain, share, cpu});
}

int ParseOptions(int argc, char** argv, Options& opt)
{
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        const bool bHasValue = i + 1 < argc;
        if (strArg == "--download-mib" && bHasValue) {
            opt.ullDownloadMiB = strtoull(argv[++i], nullptr, 10);
        } else if (strArg == "--upload-mib" && bHasValue) {
            opt.ullUploadMiB = strtoull(argv[++i], nullptr, 10);
        } else if (strArg == "--repeat" && bHasValue) {
            opt.nRepeat = atoi(argv[++i]);
        } else if (strArg == "--no-paced") {
            opt.bPaced = false;
        } else if (strArg == "--rows") {
            opt.bRows = true;
        } else {
            fprintf(stderr,
                    "usage: bench_xfer [--download-mib N] [--upload-mib N] [--repeat R] [--no-paced] [--rows]\n"
                    "  --download-mib N  size of the downloaded file (default 1024; a paced GiB takes ~35 s)\n"
                    "  --upload-mib N    size of the uploaded file (default 1024)\n"
                    "  --repeat R        runs of the unpaced and upload measurements (default 3)\n"
                    "  --no-paced        skip the paced downloads\n"
                    "  --rows            tab-separated rows for bench/run instead of a table\n");
            return -1;
        }
    }
    // Up to 4 GiB - 1: the file is announced with the 32-bit size either request uses.
    if (opt.ullDownloadMiB < 11 || opt.ullDownloadMiB >= 4096 || opt.ullUploadMiB < 11 ||
        opt.ullUploadMiB > 65536 || opt.nRepeat < 1) {
        fprintf(stderr, "bench_xfer: --download-mib 11..4095 (served from disk), --upload-mib 11..65536, --repeat >= 1\n");
        return -1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (ParseOptions(argc, argv, opt) != 0)
        return 2;
    std::vector<BenchRow> rows;
    BenchRow busy = MakeRow("xfer_machine_busy_before", "%", TargetKind::None, 0, 0);
    const double dBusy = WarnIfBusy("bench_xfer", 1000, 0.10);
    if (dBusy >= 0)
        busy.Set(100 * dBusy);
    rows.push_back(busy);

    CScratchDir scratch;
    if (scratch.Create("bench_xfer") != 0)
        return 1;
    // The test file, and at most two uploads at a time, with room to spare.
    if (!HasFreeBytes(scratch.Path(), (opt.ullDownloadMiB + 2 * opt.ullUploadMiB + 1024) << 20)) {
        fprintf(stderr, "bench_xfer: not enough free space in %s\n", scratch.Path().c_str());
        return 1;
    }
    TestFile file;
    file.strPath = scratch.Path() + "/big.bin";
    uint64_t ullWritten = 0;
    fprintf(stderr, "bench_xfer: writing a %llu MiB test file\n", static_cast<unsigned long long>(opt.ullDownloadMiB));
    if (!WritePatternFile(file.strPath, opt.ullDownloadMiB << 20, ullWritten) ||
        !ReadAndSum(file.strPath, file.ullSize, file.ullSum) || file.ullSum != ullWritten) {
        fprintf(stderr, "bench_xfer: the test file cannot be written and read back\n");
        return 1;
    }

    {
        CDaemonProc daemon;
        if (StartDaemon(daemon, CORVANE_BIN) && ShareFile(daemon, file.strPath, "big.bin")) {
            if (opt.bPaced) {
                PacedRows(opt, daemon, file, 0x23, rows);
                PacedRows(opt, daemon, file, 0x26, rows);
            }
            fprintf(stderr, "bench_xfer: upload, %llu MiB in blocks of %zu bytes, %d x\n",
                    static_cast<unsigned long long>(opt.ullUploadMiB), kUploadBlock, opt.nRepeat);
            UploadRows(opt, daemon, rows);
        } else {
            rows.push_back(MakeRow("dn_paced_and_upload", "-", TargetKind::AtLeast, 0, 0));  // fails
        }
    }
    {
        CDaemonProc daemon;
        fprintf(stderr, "bench_xfer: unpaced download with 0x23 (corvane_nopace), %d x\n", opt.nRepeat);
        if (StartDaemon(daemon, CORVANE_NOPACE_BIN) && ShareFile(daemon, file.strPath, "big.bin"))
            UnpacedRows(opt, daemon, file, rows);
        else
            rows.push_back(MakeRow("dn_nopace", "-", TargetKind::AtLeast, 0, 0));  // fails
    }

    if (opt.bRows)
        PrintRowLines(rows);
    else
        PrintRowTable(rows);
    return AllPassed(rows) ? 0 : 1;
}
