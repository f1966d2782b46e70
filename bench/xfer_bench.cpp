// bench_xfer: large-file downloads and uploads through the real daemon over loopback,
// each held against a floor measured in the same run.
//
//   bench_xfer [--download-mib N] [--upload-mib N] [--repeat R] [--no-paced] [--streams N]
//              [--streams-mib N] [--poll-page] [--disk-dir DIR] [--tmpfs-dir DIR]
//              [--last-mib N] [--last-repeat R] [--rows]
//
// Paced downloads (the shipped daemon sleeps 1 ms after every full 32 KiB frame) are held
// against the ceiling that pacing allows, one alone and then N at once (16 by default,
// each held to its ceiling, R times, the median run counting) with the daemon's status page
// read every second meanwhile;
// downloads from a daemon built without the pause against a plain pread + checksum + send
// loop; uploads, on the machine's disk and on tmpfs, against the floor server
// (bench/floor_server.cpp), which answers the same requests, one block at a time as the
// daemon does, with nothing but the frame codec, a pwrite and one fdatasync at the end.
// The unpaced and upload measurements run R times, alternating with their floor; each
// ratio is the median of the R paired ratios. Beside each, the CPU time of the measuring
// side: it must stay well below the time of the run, or the client itself would set the
// pace. Last, on the disk: the time from an upload's last block to its reply, which waits
// for the file to be on the disk, for a large upload and for a 64 MiB one (median of R
// each): the write-back must have kept up with the large one. With --poll-page every
// daemon's status page is read every second through every measurement.
#include <algorithm>
#include <cstdio>
#include <latch>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_files.h"
#include "bench_util.h"
#include "cpu_pin.h"
#include "net/protocol.h"
#include "xfer_floors.h"
#include "xfer_measure.h"

namespace {

constexpr double kTargetPacedPercent = 95;
constexpr double kTargetUnpacedPercent = 80;
constexpr double kTargetUploadPercent = 90;
constexpr double kTargetLastReplyExtraMs = 100;
constexpr uint64_t kLastReplySmallMiB = 64;
constexpr int kSleepSamples = 1000;
constexpr size_t kUploadBlock = CUploadBlocks::kMaxBlock;  // the largest frame: LEN 0xFFFF
constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kGiB = kMiB * 1024.0;
constexpr const char* kProgram = "bench_xfer";

struct Options {
    uint64_t ullDownloadMiB = 1024;
    uint64_t ullUploadMiB = 1024;
    int nRepeat = 3;
    bool bPaced = true;
    std::string strDiskDir = "/var/tmp";
    std::string strTmpfsDir = "/dev/shm";
    uint64_t ullLastMiB = 4096;
    int nLastRepeat = 5;
    int nStreams = 16;
    uint64_t ullStreamsMiB = 256;
    bool bPollPage = false;
    bool bRows = false;
};

struct TestFile {
    std::string strPath;
    uint64_t ullSize = 0;
    uint64_t ullSum = 0;
};

void PacedRows(const Options& opt, const CBenchDaemon& daemon, const TestFile& file, uint8_t ucRequest,
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
        cpu.Set(run.dServerCpu / (static_cast<double>(file.ullSize) / kGiB));
        fprintf(stderr, "bench_xfer:   %.2f s, %llu full frames, %.1f MiB/s (ceiling %.1f)\n", run.dSeconds,
                static_cast<unsigned long long>(run.ullFullFrames), rate.dValue, dCeiling);
    }
    rows.insert(rows.end(), {sleep, sleepMean, rate, ceiling, share, frame, cpu});
}

// What one run of the paced downloads at once measured: the slowest download's share of
// the ceiling pacing allows it, the median download's, and all of them together in MiB/s.
struct StreamsRun {
    double dSlowest = 0, dMedian = 0, dTotal = 0;
};

// One run of nStreams paced downloads of the file at once, each on a connection of its own,
// while the daemon's status page is read every second. False when one of them failed.
bool RunConcurrentPaced(const Options& opt, const CBenchDaemon& daemon, const TestFile& file, double dSleepUs,
                        StreamsRun& result)
{
    std::vector<XferRun> runs(static_cast<size_t>(opt.nStreams));
    std::vector<char> done(runs.size(), 0);
    // Every download opens its file, then waits for the others: the streams run side by
    // side however long the connections took (past a full listen backlog, a second).
    std::latch opened(opt.nStreams);
    {
        // A poller of its own, which reads the page at once and then every second, so that
        // every run of this measurement is polled (with --poll-page, the daemon's own poller
        // reads it too).
        CPagePoller poller(daemon.StatusPort());
        std::vector<std::thread> threads;
        for (size_t i = 0; i < runs.size(); ++i)
            threads.emplace_back([&, i] {
                bool bWaited = false;
                done[i] = DaemonDownload(daemon, "streams.bin", file.ullSize, file.ullSum, FC_DATA_REQ_LARGE, runs[i],
                                         [&] {
                                             bWaited = true;
                                             opened.arrive_and_wait();
                                         });
                if (!bWaited)
                    opened.count_down();  // failed before its stream: the others go on
            });
        for (std::thread& t : threads)
            t.join();
    }
    if (!std::all_of(done.begin(), done.end(), [](char c) { return c != 0; }))
        return false;
    std::vector<double> shares;
    result.dTotal = 0;
    for (const XferRun& run : runs) {
        shares.push_back(100 * static_cast<double>(run.ullFullFrames) * dSleepUs / 1e6 / run.dSeconds);
        result.dTotal += static_cast<double>(file.ullSize) / kMiB / run.dSeconds;
    }
    result.dSlowest = *std::min_element(shares.begin(), shares.end());
    result.dMedian = Median(shares);
    return true;
}

// The concurrent paced downloads R times: each row the median of the R runs, so that one
// run the machine's other load fell on does not decide it; the slowest download of a run
// is held to the target.
void ConcurrentPacedRows(const Options& opt, const CBenchDaemon& daemon, const TestFile& file,
                         std::vector<BenchRow>& rows)
{
    const std::string strName = "dn_paced_" + std::to_string(opt.nStreams) + "x_0x23_" +
                                std::to_string(opt.ullStreamsMiB) + "MiB";
    BenchRow slowest = MakeRow(strName + "_min_of_ceiling", "%", TargetKind::AtLeast, kTargetPacedPercent, 1);
    BenchRow median = MakeRow(strName + "_median_of_ceiling", "%", TargetKind::None, 0, 1);
    BenchRow total = MakeRow(strName + "_total", "MiB/s", TargetKind::None, 0, 1);
    const SleepFigures sleepUs = MeasureSleep(kSleepSamples);
    fprintf(stderr, "bench_xfer: %d paced downloads at once with 0x23, %llu MiB each, the status page read every "
                    "second, %d x (nanosleep(1 ms): median %.1f us)\n",
            opt.nStreams, static_cast<unsigned long long>(opt.ullStreamsMiB), opt.nRepeat, sleepUs.dMedianUs);
    const uint64_t ullPolls0 = CPagePoller::TotalPolls(), ullFailures0 = CPagePoller::TotalFailures();
    std::vector<double> slowests, medians, totals;
    for (int i = 0; i < opt.nRepeat; ++i) {
        StreamsRun run;
        if (!RunConcurrentPaced(opt, daemon, file, sleepUs.dMedianUs, run))
            break;
        slowests.push_back(run.dSlowest);
        medians.push_back(run.dMedian);
        totals.push_back(run.dTotal);
        fprintf(stderr, "bench_xfer:   run %d: of the ceiling slowest %.1f %%, median %.1f %%; %.1f MiB/s together\n",
                i + 1, run.dSlowest, run.dMedian, run.dTotal);
    }
    if (static_cast<int>(slowests.size()) == opt.nRepeat) {
        slowest.Set(Median(slowests));
        median.Set(Median(medians));
        total.Set(Median(totals));
    }
    rows.insert(rows.end(), {slowest, median, total, PagePollRow(strName + "_page_polls", ullPolls0, ullFailures0)});
}

// The rows of a transfer run R times, alternating with its floor: the daemon's rate, the
// floor's, the floor's time as a share of the daemon's, and the CPU time of the daemon and
// of the measuring side; each the median of the R runs, and none measured unless all R
// succeeded.
class CPairedRows {
public:
    CPairedRows(const std::string& strName, const std::string& strFloorName, const char* pszShareSuffix,
                double dTarget, const char* pszFloor)
        : m_Rate(MakeRow(strName, "MiB/s", TargetKind::None, 0, 1)),
          m_Floor(MakeRow(strFloorName, "MiB/s", TargetKind::None, 0, 1)),
          m_Share(MakeRow(strName + pszShareSuffix, "%", TargetKind::AtLeast, dTarget, 1)),
          m_Cpu(MakeRow(strName + "_daemon_cpu", "s/GiB", TargetKind::None, 0, 3)),
          m_ClientCpu(MakeRow(strName + "_client_cpu", "s/GiB", TargetKind::None, 0, 3)), m_pszFloor(pszFloor)
    {
    }

    // One successful run of ullBytes: the floor took dFloor seconds, the daemon run.
    void Add(uint64_t ullBytes, double dFloor, const XferRun& run)
    {
        const double dMiB = static_cast<double>(ullBytes) / kMiB;
        m_FloorRates.push_back(dMiB / dFloor);
        m_DaemonRates.push_back(dMiB / run.dSeconds);
        m_Ratios.push_back(100 * dFloor / run.dSeconds);
        m_Cpus.push_back(run.dServerCpu / (static_cast<double>(ullBytes) / kGiB));
        m_ClientCpus.push_back(run.dClientCpu / (static_cast<double>(ullBytes) / kGiB));
        fprintf(stderr, "%s:   run %zu: daemon %.1f MiB/s, %s %.1f MiB/s; the measuring side busy %.0f %% of it\n",
                kProgram, m_Ratios.size(), m_DaemonRates.back(), m_pszFloor, m_FloorRates.back(),
                100 * run.dClientCpu / run.dSeconds);
    }

    void AppendTo(int nRepeat, std::vector<BenchRow>& rows)
    {
        if (static_cast<int>(m_Ratios.size()) == nRepeat) {
            m_Rate.Set(Median(m_DaemonRates));
            m_Floor.Set(Median(m_FloorRates));
            m_Share.Set(Median(m_Ratios));
            m_Cpu.Set(Median(m_Cpus));
            m_ClientCpu.Set(Median(m_ClientCpus));
        }
        rows.insert(rows.end(), {m_Rate, m_Floor, m_Share, m_Cpu, m_ClientCpu});
    }

private:
    BenchRow m_Rate, m_Floor, m_Share, m_Cpu, m_ClientCpu;
    const char* m_pszFloor;  // the floor as the progress lines name it
    std::vector<double> m_DaemonRates, m_FloorRates, m_Ratios, m_Cpus, m_ClientCpus;
};

void UnpacedRows(const Options& opt, const CBenchDaemon& daemon, const TestFile& file, std::vector<BenchRow>& rows)
{
    const std::string strMiB = std::to_string(opt.ullDownloadMiB) + "MiB";
    CPairedRows paired("dn_nopace_0x23_" + strMiB, "dn_plain_loop_" + strMiB, "_of_plain", kTargetUnpacedPercent,
                       "plain loop");
    for (int i = 0; i < opt.nRepeat; ++i) {
        double dPlain = 0;
        XferRun run;
        if (!PlainSendLoop(file.strPath, file.ullSize, dPlain) ||
            !DaemonDownload(daemon, "big.bin", file.ullSize, file.ullSum, FC_DATA_REQ_LARGE, run))
            break;
        paired.Add(file.ullSize, dPlain, run);
    }
    paired.AppendTo(opt.nRepeat, rows);
}

// One upload to the server, its file checked and removed again.
bool UploadOnce(const CBenchDaemon& server, CUploadBlocks& blocks, uint64_t ullSize, XferRun& run)
{
    const std::string strTarget = server.ShareDir() + "/up.bin";
    // No server pays for what another left to be written.
    SettleVolume(server.ShareDir());
    const bool bOk = Upload(server, "up.bin", blocks, ullSize, run) && CheckUploaded(strTarget, blocks, ullSize);
    unlink(strTarget.c_str());
    return bOk;
}

// The uploads of a daemon and a floor server whose folders lie in strDir, on the disk or
// on tmpfs.
void UploadRows(const Options& opt, Place ePlace, const std::string& strDir, std::vector<BenchRow>& rows)
{
    const std::string strMiB = std::to_string(opt.ullUploadMiB) + "MiB_" + PlaceName(ePlace);
    CPairedRows paired("up_0x28_" + strMiB, "up_floor_" + strMiB, "_of_floor", kTargetUploadPercent, "floor server");
    fprintf(stderr, "bench_xfer: upload on %s (%s), %llu MiB in blocks of %zu bytes, %d x, alternating with the floor\n",
            PlaceName(ePlace), strDir.c_str(), static_cast<unsigned long long>(opt.ullUploadMiB), kUploadBlock,
            opt.nRepeat);
    CBenchDaemon daemon, floor;
    daemon.SetPlace(strDir);
    floor.SetPlace(strDir);
    if (!IsFolderOn(strDir, ePlace, kProgram) || !HasFreeBytes(strDir, (opt.ullUploadMiB + 1024) << 20) ||
        !StartDaemon(daemon, CORVANE_BIN, false, kProgram) || !StartFloor(floor, CORVANE_FLOOR_BIN, kProgram)) {
        Fail(kProgram, "no upload measurement on " + strDir);
        paired.AppendTo(opt.nRepeat, rows);
        return;
    }
    CUploadBlocks blocks(kUploadBlock);
    const uint64_t ullSize = opt.ullUploadMiB << 20;
    // Each block wakes the server up, at a price that must not depend on where the
    // scheduler put it.
    const CTwoCpus cpus;
    if (!cpus.Pin(daemon.Pid()) || !cpus.Pin(floor.Pid())) {
        Fail(kProgram, "cannot hold the servers to a CPU of their own");
        paired.AppendTo(opt.nRepeat, rows);
        return;
    }
    for (int i = 0; i < opt.nRepeat; ++i) {
        XferRun floorRun, run;
        if (!UploadOnce(floor, blocks, ullSize, floorRun) || !UploadOnce(daemon, blocks, ullSize, run))
            break;
        paired.Add(ullSize, floorRun.dSeconds, run);
    }
    paired.AppendTo(opt.nRepeat, rows);
}

// The time from the last block's request to its reply, on the disk, for uploads of
// kLastReplySmallMiB and of --last-mib, alternating: the large one may take at most
// kTargetLastReplyExtraMs longer (medians).
void LastReplyRows(const Options& opt, std::vector<BenchRow>& rows)
{
    const std::string strSmall = std::to_string(kLastReplySmallMiB) + "MiB";
    const std::string strLarge = std::to_string(opt.ullLastMiB) + "MiB";
    BenchRow small = MakeRow("up_last_reply_" + strSmall + "_disk", "ms", TargetKind::None, 0, 1);
    BenchRow large = MakeRow("up_last_reply_" + strLarge + "_disk", "ms", TargetKind::None, 0, 1);
    BenchRow extra = MakeRow("up_last_reply_" + strLarge + "_over_" + strSmall + "_disk", "ms", TargetKind::AtMost,
                             kTargetLastReplyExtraMs, 1);
    fprintf(stderr, "bench_xfer: last block to its reply on disk (%s), %s and %s, %d x each\n", opt.strDiskDir.c_str(),
            strSmall.c_str(), strLarge.c_str(), opt.nLastRepeat);
    CBenchDaemon daemon;
    daemon.SetPlace(opt.strDiskDir);
    std::vector<double> smallMs, largeMs;
    if (IsFolderOn(opt.strDiskDir, Place::Disk, kProgram) &&
        HasFreeBytes(opt.strDiskDir, (opt.ullLastMiB + 1024) << 20) &&
        StartDaemon(daemon, CORVANE_BIN, false, kProgram)) {
        CUploadBlocks blocks(kUploadBlock);
        for (int i = 0; i < opt.nLastRepeat; ++i) {
            XferRun smallRun, largeRun;
            if (!UploadOnce(daemon, blocks, kLastReplySmallMiB << 20, smallRun) ||
                !UploadOnce(daemon, blocks, opt.ullLastMiB << 20, largeRun))
                break;
            smallMs.push_back(smallRun.dLastReply * 1e3);
            largeMs.push_back(largeRun.dLastReply * 1e3);
            fprintf(stderr, "bench_xfer:   run %d: %s %.1f ms, %s %.1f ms (%.1f MiB/s)\n", i + 1, strSmall.c_str(),
                    smallMs.back(), strLarge.c_str(), largeMs.back(),
                    static_cast<double>(opt.ullLastMiB) / largeRun.dSeconds);
        }
    }
    if (static_cast<int>(largeMs.size()) == opt.nLastRepeat) {
        small.Set(Median(smallMs));
        large.Set(Median(largeMs));
        extra.Set(large.dValue - small.dValue);
    }
    rows.insert(rows.end(), {small, large, extra});
}

int ParseOptions(int argc, char** argv, Options& opt)
{
    const BenchOption options[] = {{"--download-mib", &opt.ullDownloadMiB},
                                   {"--upload-mib", &opt.ullUploadMiB},
                                   {"--repeat", &opt.nRepeat},
                                   {"--no-paced", &opt.bPaced, false},
                                   {"--streams", &opt.nStreams},
                                   {"--streams-mib", &opt.ullStreamsMiB},
                                   {"--poll-page", &opt.bPollPage},
                                   {"--disk-dir", &opt.strDiskDir},
                                   {"--tmpfs-dir", &opt.strTmpfsDir},
                                   {"--last-mib", &opt.ullLastMiB},
                                   {"--last-repeat", &opt.nLastRepeat},
                                   {"--rows", &opt.bRows}};
    const char* pszUsage =
        "usage: bench_xfer [--download-mib N] [--upload-mib N] [--repeat R] [--no-paced] [--streams N]\n"
        "                  [--streams-mib N] [--poll-page] [--disk-dir DIR] [--tmpfs-dir DIR]\n"
        "                  [--last-mib N] [--last-repeat R] [--rows]\n"
        "  --download-mib N  size of the downloaded file (default 1024; a paced GiB takes ~35 s)\n"
        "  --upload-mib N    size of the uploaded file (default 1024)\n"
        "  --repeat R        runs of the unpaced, upload and concurrent paced measurements (default 3)\n"
        "  --no-paced        skip the paced downloads (alone and at once)\n"
        "  --streams N       paced downloads at once, the status page read meanwhile (default 16)\n"
        "  --streams-mib N   size of the file each of them downloads (default 256)\n"
        "  --poll-page       read every daemon's status page every second through every measurement\n"
        "  --disk-dir DIR    a folder on the machine's disk, not tmpfs (default /var/tmp)\n"
        "  --tmpfs-dir DIR   a folder on tmpfs (default /dev/shm)\n"
        "  --last-mib N      the large upload of the last-reply measurement (default 4096)\n"
        "  --last-repeat R   runs of the last-reply measurement (default 5)\n"
        "  --rows            tab-separated rows for bench/run instead of a table\n";
    if (!ParseArgs(argc, argv, options, pszUsage))
        return -1;
    // Up to 4 GiB - 1: the file is announced with the 32-bit size either request uses.
    const bool bBad = opt.ullDownloadMiB < 11 || opt.ullDownloadMiB >= 4096 || opt.ullUploadMiB < 11 ||
                      opt.ullUploadMiB > 65536 || opt.nRepeat < 1 || opt.nStreams < 1 || opt.nStreams > 256 ||
                      opt.ullStreamsMiB < 11 || opt.ullStreamsMiB >= 4096 || opt.ullLastMiB < kLastReplySmallMiB ||
                      opt.ullLastMiB > 65536 || opt.nLastRepeat < 1;
    return CheckOptions(bBad, "bench_xfer: --download-mib 11..4095 (served from disk), --upload-mib 11..65536, "
                              "--repeat >= 1, --streams 1..256, --streams-mib 11..4095, --last-mib 64..65536, "
                              "--last-repeat >= 1\n");
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (ParseOptions(argc, argv, opt) != 0)
        return 2;
    CBenchDaemon::PollPages(opt.bPollPage);
    std::vector<BenchRow> rows = {MachineBusyRow(kProgram, "xfer_machine_busy_before")};

    CScratchDir scratch;
    if (scratch.Create(kProgram) != 0)
        return 1;
    // The test files, with room to spare (the uploads check their own folders).
    if (!HasFreeBytes(scratch.Path(), (opt.ullDownloadMiB + opt.ullStreamsMiB + 1024) << 20)) {
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
    // The smaller file that many downloads fetch at once.
    TestFile streams;
    streams.strPath = scratch.Path() + "/streams.bin";
    if (opt.bPaced && (!WritePatternFile(streams.strPath, opt.ullStreamsMiB << 20, ullWritten) ||
                       !ReadAndSum(streams.strPath, streams.ullSize, streams.ullSum) || streams.ullSum != ullWritten)) {
        fprintf(stderr, "bench_xfer: the test file cannot be written and read back\n");
        return 1;
    }

    if (opt.bPaced) {
        CBenchDaemon daemon;
        if (StartDaemon(daemon, CORVANE_BIN, false, kProgram) &&
            ShareInto(daemon, file.strPath, "big.bin", ShareBy::HardLink, kProgram)) {
            PacedRows(opt, daemon, file, FC_DATA_REQ_LARGE, rows);
            PacedRows(opt, daemon, file, FC_BIGFILE_DATA_REQ_LARGE, rows);
            if (ShareInto(daemon, streams.strPath, "streams.bin", ShareBy::HardLink, kProgram))
                ConcurrentPacedRows(opt, daemon, streams, rows);
            else
                rows.push_back(MakeRow("dn_paced_streams", "-", TargetKind::AtLeast, 0, 0));  // fails
        } else {
            rows.push_back(MakeRow("dn_paced", "-", TargetKind::AtLeast, 0, 0));  // fails
        }
    }
    UploadRows(opt, Place::Disk, opt.strDiskDir, rows);
    UploadRows(opt, Place::Tmpfs, opt.strTmpfsDir, rows);
    LastReplyRows(opt, rows);
    {
        CBenchDaemon daemon;
        fprintf(stderr, "bench_xfer: unpaced download with 0x23 (corvane_nopace), %d x\n", opt.nRepeat);
        if (StartDaemon(daemon, CORVANE_NOPACE_BIN, false, kProgram) &&
            ShareInto(daemon, file.strPath, "big.bin", ShareBy::HardLink, kProgram))
            UnpacedRows(opt, daemon, file, rows);
        else
            rows.push_back(MakeRow("dn_nopace", "-", TargetKind::AtLeast, 0, 0));  // fails
    }

    if (opt.bPollPage)
        rows.push_back(PagePollRow("xfer_page_polls"));
    return ReportRows(rows, opt.bRows);
}
