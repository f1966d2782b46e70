// bench_copy: the daemon's copy of a large file on the machine's disk (not tmpfs), held
// against `cp --reflink=never` followed by `sync -f` of the copy, in the same run and the
// same folder: the daemon's copy is on the disk when it says it is done, and so is the
// floor's. The two alternate R times; the ratio is the median of the R paired ratios.
//
//   bench_copy [--copy-mib N] [--repeat R] [--disk-dir DIR] [--rows]
#include <cstdio>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_util.h"
#include "copy_measure.h"

namespace {

constexpr double kTargetCopyPercent = 90;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr const char* kProgram = "bench_copy";

struct Options {
    uint64_t ullCopyMiB = 1024;
    int nRepeat = 3;
    std::string strDiskDir = "/var/tmp";
    bool bRows = false;
};

// One copy by each, alternating, the copies checked and removed again. False when one
// failed.
bool CopyPair(const CBenchDaemon& daemon, uint64_t ullSize, uint64_t ullSum, double& dFloor, CopyRun& run)
{
    const std::string strShare = daemon.ShareDir();
    const std::string strFloorCopy = strShare + "/floor.bin", strDaemonCopy = strShare + "/copy.bin";
    uint64_t ullGotSize = 0, ullGotSum = 0;
    // Neither pays for what the other left to be written.
    SettleVolume(strShare);
    if (!FloorCopy(strShare + "/src.bin", strFloorCopy, dFloor))
        return false;
    const bool bFloorOk = ReadAndSum(strFloorCopy, ullGotSize, ullGotSum) && ullGotSize == ullSize && ullGotSum == ullSum;
    RemovePath(strFloorCopy);
    SettleVolume(strShare);
    if (!bFloorOk)
        return Fail("cp --reflink=never", "the copy differs from the file");
    if (!DaemonCopy(daemon, "/src.bin", "/copy.bin", run))
        return false;
    const bool bOk = ReadAndSum(strDaemonCopy, ullGotSize, ullGotSum) && ullGotSize == ullSize && ullGotSum == ullSum;
    RemovePath(strDaemonCopy);
    return bOk ? true : Fail("copy with FC_FILE_CPY_REQ", "the copy differs from the file");
}

void CopyRows(const Options& opt, std::vector<BenchRow>& rows)
{
    const std::string strName = "cp_" + std::to_string(opt.ullCopyMiB) + "MiB_disk";
    BenchRow rate = MakeRow(strName, "MiB/s", TargetKind::None, 0, 1);
    BenchRow floor = MakeRow("cp_floor_" + std::to_string(opt.ullCopyMiB) + "MiB_disk", "MiB/s", TargetKind::None, 0, 1);
    BenchRow share = MakeRow(strName + "_of_floor", "%", TargetKind::AtLeast, kTargetCopyPercent, 1);
    BenchRow cpu = MakeRow(strName + "_daemon_cpu", "s/GiB", TargetKind::None, 0, 3);
    const uint64_t ullSize = opt.ullCopyMiB << 20;
    fprintf(stderr, "%s: copy of %llu MiB on disk (%s), %d x, alternating with cp --reflink=never + sync -f\n",
            kProgram, static_cast<unsigned long long>(opt.ullCopyMiB), opt.strDiskDir.c_str(), opt.nRepeat);
    CBenchDaemon daemon;
    daemon.SetPlace(opt.strDiskDir);
    uint64_t ullSum = 0;
    std::vector<double> rates, floors, ratios, cpus;
    if (IsFolderOn(opt.strDiskDir, Place::Disk, kProgram) && HasFreeBytes(opt.strDiskDir, 3 * ullSize + (1ull << 30)) &&
        StartDaemon(daemon, CORVANE_BIN, false, kProgram) &&
        WritePatternFile(daemon.ShareDir() + "/src.bin", ullSize, ullSum)) {
        const double dMiB = static_cast<double>(ullSize) / kMiB;
        for (int i = 0; i < opt.nRepeat; ++i) {
            double dFloor = 0;
            CopyRun run;
            if (!CopyPair(daemon, ullSize, ullSum, dFloor, run))
                break;
            rates.push_back(dMiB / run.dSeconds);
            floors.push_back(dMiB / dFloor);
            ratios.push_back(100 * dFloor / run.dSeconds);
            cpus.push_back(run.dServerCpu / (dMiB / 1024));
            fprintf(stderr, "%s:   run %d: daemon %.2f s (%.1f MiB/s), cp + sync -f %.2f s (%.1f MiB/s)\n", kProgram,
                    i + 1, run.dSeconds, rates.back(), dFloor, floors.back());
        }
    }
    if (static_cast<int>(ratios.size()) == opt.nRepeat) {
        rate.Set(Median(rates));
        floor.Set(Median(floors));
        share.Set(Median(ratios));
        cpu.Set(Median(cpus));
    }
    rows.insert(rows.end(), {rate, floor, share, cpu});
}

int ParseOptions(int argc, char** argv, Options& opt)
{
    const BenchOption options[] = {{"--copy-mib", &opt.ullCopyMiB},
                                   {"--repeat", &opt.nRepeat},
                                   {"--disk-dir", &opt.strDiskDir},
                                   {"--rows", &opt.bRows}};
    const char* pszUsage =
        "usage: bench_copy [--copy-mib N] [--repeat R] [--disk-dir DIR] [--rows]\n"
        "  --copy-mib N     size of the copied file (default 1024)\n"
        "  --repeat R       runs of the daemon and of the floor, alternating (default 3)\n"
        "  --disk-dir DIR   a folder on the machine's disk, not tmpfs (default /var/tmp)\n"
        "  --rows           tab-separated rows for bench/run instead of a table\n";
    if (!ParseArgs(argc, argv, options, pszUsage))
        return -1;
    return CheckOptions(opt.ullCopyMiB < 1 || opt.ullCopyMiB > 65536 || opt.nRepeat < 1,
                        "bench_copy: --copy-mib 1..65536, --repeat >= 1\n");
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (ParseOptions(argc, argv, opt) != 0)
        return 2;
    std::vector<BenchRow> rows = {MachineBusyRow(kProgram, "copy_machine_busy_before")};
    CopyRows(opt, rows);
    return ReportRows(rows, opt.bRows);
}
