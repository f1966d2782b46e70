// bench_tree: folder requests through the real daemon over loopback, each held against
// a floor measured in the same run.
//
//   bench_tree [--entries N] [--tree-folders N] [--tree-files N] [--up-folders N]
//              [--up-files N] [--repeat R] [--base-daemon PATH] [--disk-dir DIR]
//              [--tmpfs-dir DIR] [--rows]
//
// - A listing (FC_DIR_REQ plus its block fetched with 0x23) of a folder of N empty files
//   against readdir + case-folded sort of the same folder. The shipped daemon paces the
//   block's frames; the same listing from the unpaced build is reported beside it.
// - The list of a directory download (FC_DIR_DN_REQ to its reply) of a tree of folders
//   and files against nftw with a stat of every entry, and the daemon's memory growth
//   while it holds the list against the bytes of the listed names.
// - A directory upload of many 1 KiB files, on the machine's disk and on tmpfs: files per
//   second, against a baseline daemon (an earlier commit, built by bench/run) in the same
//   place, alternating: the daemon must keep at least half the baseline's rate.
// - The deletion of a tree of folders and files (FC_RMDIR_REQ to its reply) against
//   `rm -rf` of a tree made the same way.
// Timed measurements run R times, alternating with their floor; the ratio is the median
// of the R paired ratios.
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "bench_files.h"
#include "bench_util.h"
#include "proc_figures.h"
#include "tree_floors.h"
#include "tree_measure.h"

namespace {

constexpr double kTargetListingTimes = 3;
constexpr double kTargetTreeTimes = 3;
constexpr double kTargetRssTimes = 2;
constexpr double kTargetUploadPercent = 50;
constexpr double kTargetRemovalTimes = 1.5;
constexpr size_t kUploadFileBytes = 1024;
constexpr const char* kProgram = "bench_tree";

struct Options {
    int nEntries = 100000;
    int nTreeFolders = 1000;
    int nTreeFiles = 100;  // per folder
    int nUpFolders = 100;
    int nUpFiles = 100;  // per folder
    int nRepeat = 3;
    std::string strBaseDaemon;
    std::string strDiskDir = "/var/tmp";
    std::string strTmpfsDir = "/dev/shm";
    bool bRows = false;
};

// R listings by the daemon, each after a plain listing; false when any fails or differs.
bool ListingRuns(const Options& opt, const CBenchDaemon& daemon, const std::string& strFolder, BenchRow& daemonMs,
                 BenchRow& plainMs, BenchRow& times)
{
    std::vector<double> daemonSecs, plainSecs, ratios;
    for (int i = 0; i < opt.nRepeat; ++i) {
        std::vector<std::string> expected, listed;
        double dPlain = 0, dDaemon = 0;
        if (!PlainListing(strFolder, expected, dPlain) || !DaemonListing(daemon, "flat", listed, dDaemon))
            return false;
        if (listed != expected) {
            fprintf(stderr, "bench_tree: the daemon listed %zu names, not the %zu of readdir in their order\n",
                    listed.size(), expected.size());
            return false;
        }
        plainSecs.push_back(dPlain);
        daemonSecs.push_back(dDaemon);
        ratios.push_back(dDaemon / dPlain);
        fprintf(stderr, "bench_tree:   run %d: daemon %.1f ms, readdir + sort %.1f ms\n", i + 1, dDaemon * 1e3,
                dPlain * 1e3);
    }
    daemonMs.Set(Median(daemonSecs) * 1e3);
    plainMs.Set(Median(plainSecs) * 1e3);
    times.Set(Median(ratios));
    return true;
}

void TreeRows(const Options& opt, const CBenchDaemon& daemon, const std::string& strTree, const TreeFacts& facts,
              std::vector<BenchRow>& rows)
{
    const std::string strName = "tree_dn_" + std::to_string(facts.ullFiles) + "_files";
    BenchRow daemonMs = MakeRow(strName, "ms", TargetKind::None, 0, 1);
    BenchRow plainMs = MakeRow("tree_nftw_" + std::to_string(facts.ullFiles) + "_files", "ms", TargetKind::None, 0, 1);
    BenchRow times = MakeRow(strName + "_vs_nftw", "x", TargetKind::AtMost, kTargetTreeTimes, 2);
    BenchRow growth = MakeRow(strName + "_rss_growth", "KiB", TargetKind::None, 0, 0);
    BenchRow names = MakeRow(strName + "_name_bytes", "KiB", TargetKind::None, 0, 0);
    BenchRow perEntry = MakeRow(strName + "_rss_per_entry", "bytes", TargetKind::None, 0, 1);
    BenchRow rssTimes = MakeRow(strName + "_rss_vs_names", "x", TargetKind::AtMost, kTargetRssTimes, 2);
    std::vector<double> daemonSecs, plainSecs, ratios;
    const uint64_t ullEntries = facts.ullFiles + facts.ullFolders;
    for (int i = 0; i < opt.nRepeat; ++i) {
        WalkFacts walk;
        TreeListRun run;
        double dPlain = 0;
        if (!PlainTreeWalk(strTree, walk, dPlain) || walk.ullFiles != facts.ullFiles ||
            walk.ullFolders != facts.ullFolders || walk.ullFileBytes != facts.ullFileBytes) {
            fprintf(stderr, "bench_tree: nftw did not find the tree as it was made\n");
            break;
        }
        if (!DaemonTreeList(daemon, "tree", facts, run))
            break;
        if (i == 0) {
            // The first request of a fresh daemon: nothing freed earlier can hide the growth.
            const double dGrowth = static_cast<double>(run.nRssAfterKiB - run.nRssBeforeKiB);
            growth.Set(dGrowth);
            names.Set(static_cast<double>(facts.ullNameBytes) / 1024);
            perEntry.Set(dGrowth * 1024 / static_cast<double>(ullEntries));
            rssTimes.Set(dGrowth * 1024 / static_cast<double>(facts.ullNameBytes));
            fprintf(stderr, "bench_tree:   VmRSS %ld KiB -> %ld KiB for %llu entries, %llu bytes of names\n",
                    run.nRssBeforeKiB, run.nRssAfterKiB, static_cast<unsigned long long>(ullEntries),
                    static_cast<unsigned long long>(facts.ullNameBytes));
        }
        plainSecs.push_back(dPlain);
        daemonSecs.push_back(run.dSeconds);
        ratios.push_back(run.dSeconds / dPlain);
        fprintf(stderr, "bench_tree:   run %d: daemon %.1f ms, nftw %.1f ms\n", i + 1, run.dSeconds * 1e3, dPlain * 1e3);
    }
    if (static_cast<int>(ratios.size()) == opt.nRepeat) {
        daemonMs.Set(Median(daemonSecs) * 1e3);
        plainMs.Set(Median(plainSecs) * 1e3);
        times.Set(Median(ratios));
    }
    rows.insert(rows.end(), {daemonMs, plainMs, times, growth, names, perEntry, rssTimes});
}

// One directory upload into the daemon's shared folder: files per second, or 0 when it
// failed.
double DirUploadRate(const Options& opt, const CBenchDaemon& daemon)
{
    const int nFiles = opt.nUpFolders * opt.nUpFiles;
    const std::string strInto = daemon.ShareDir() + "/incoming";
    double dSeconds = 0;
    // Neither daemon pays for what the other left to be written.
    SettleVolume(daemon.ShareDir());
    // The receiving folder exists on the STB's side of a real upload too.
    const bool bOk =
        mkdir(strInto.c_str(), 0755) == 0 &&
        DaemonDirUpload(daemon, "incoming/", "batch", opt.nUpFolders, opt.nUpFiles, kUploadFileBytes, dSeconds) &&
        CheckDirUpload(strInto + "/batch", opt.nUpFolders, opt.nUpFiles, kUploadFileBytes);
    RemovePath(strInto);
    return bOk ? nFiles / dSeconds : 0;
}

// Directory uploads in strDir, on the disk or on tmpfs, by this build's daemon and the
// baseline's, R times alternating; each rate the median of its runs, the share the median
// of the paired shares.
void UploadRows(const Options& opt, Place ePlace, const std::string& strDir, std::vector<BenchRow>& rows)
{
    const int nFiles = opt.nUpFolders * opt.nUpFiles;
    const std::string strName = "dir_up_" + std::to_string(nFiles) + "x1KiB_" + PlaceName(ePlace);
    BenchRow rate = MakeRow(strName, "files/s", TargetKind::None, 0, 0);
    BenchRow baseRate = MakeRow(strName + "_base", "files/s", TargetKind::None, 0, 0);
    BenchRow share = MakeRow(strName + "_of_base", "%", TargetKind::AtLeast, kTargetUploadPercent, 1);
    fprintf(stderr, "bench_tree: directory upload of %d files of %zu bytes in %d folders on %s (%s), %d x\n", nFiles,
            kUploadFileBytes, opt.nUpFolders, PlaceName(ePlace), strDir.c_str(), opt.nRepeat);
    CBenchDaemon daemon, base;
    daemon.SetPlace(strDir);
    base.SetPlace(strDir);
    const bool bBase = !opt.strBaseDaemon.empty();
    if (!bBase)
        fprintf(stderr, "bench_tree: no --base-daemon: the directory uploads have nothing to compare with\n");
    std::vector<double> rates, baseRates, shares;
    if (IsFolderOn(strDir, ePlace, kProgram) && StartDaemon(daemon, CORVANE_BIN, false, kProgram) &&
        (!bBase || StartDaemon(base, opt.strBaseDaemon, false, kProgram))) {
        for (int i = 0; i < opt.nRepeat; ++i) {
            const double dBase = bBase ? DirUploadRate(opt, base) : 0;
            const double dRate = DirUploadRate(opt, daemon);
            if (dRate <= 0 || (bBase && dBase <= 0))
                break;
            rates.push_back(dRate);
            if (bBase) {
                baseRates.push_back(dBase);
                shares.push_back(100 * dRate / dBase);
            }
            fprintf(stderr, "bench_tree:   run %d: %.0f files/s, the baseline %.0f files/s\n", i + 1, dRate, dBase);
        }
    }
    if (static_cast<int>(rates.size()) == opt.nRepeat) {
        rate.Set(Median(rates));
        if (bBase) {
            baseRate.Set(Median(baseRates));
            share.Set(Median(shares));
        }
    }
    rows.insert(rows.end(), {rate, baseRate, share});
}

// R deletions of a fresh tree by the daemon, each after `rm -rf` of another fresh tree of
// the same shape. Each tree is written out to the disk before its deletion starts, as a
// tree that has been there a while is: a tree still in the page cache is deleted at a
// cost that depends on how much of it the system happens to write back meanwhile.
void RemovalRows(const Options& opt, const CBenchDaemon& daemon, const std::string& strScratch,
                 std::vector<BenchRow>& rows)
{
    const std::string strName = "tree_rm_" + std::to_string(opt.nTreeFolders * opt.nTreeFiles) + "_files";
    BenchRow daemonMs = MakeRow(strName, "ms", TargetKind::None, 0, 1);
    BenchRow plainMs = MakeRow(strName + "_rm_rf", "ms", TargetKind::None, 0, 1);
    BenchRow times = MakeRow(strName + "_vs_rm_rf", "x", TargetKind::AtMost, kTargetRemovalTimes, 2);
    // The CPU time of each side: the work of the program itself, which a busy disk's
    // waits do not blur.
    BenchRow daemonCpu = MakeRow(strName + "_cpu", "s", TargetKind::None, 0, 2);
    BenchRow plainCpu = MakeRow(strName + "_rm_rf_cpu", "s", TargetKind::None, 0, 2);
    BenchRow cpuTimes = MakeRow(strName + "_cpu_vs_rm_rf", "x", TargetKind::None, 0, 2);
    const std::string strFloorTree = strScratch + "/rm_floor", strDaemonTree = daemon.ShareDir() + "/rm_tree";
    std::vector<double> daemonSecs, plainSecs, ratios, daemonCpus, plainCpus, cpuRatios;
    for (int i = 0; i < opt.nRepeat; ++i) {
        TreeFacts facts;
        double dPlain = 0, dDaemon = 0, dPlainCpu = 0;
        if (!MakeTree(strFloorTree, opt.nTreeFolders, opt.nTreeFiles, facts))
            break;
        sync();
        if (!PlainRemoveTree(strFloorTree, dPlain, dPlainCpu) ||
            !MakeTree(strDaemonTree, opt.nTreeFolders, opt.nTreeFiles, facts))
            break;
        sync();
        const double dCpuBefore = ProcCpuSeconds(daemon.Pid());
        if (!DaemonRemoveTree(daemon, "rm_tree", dDaemon))
            break;
        const double dDaemonCpu = ProcCpuSeconds(daemon.Pid()) - dCpuBefore;
        struct stat st;
        if (lstat(strDaemonTree.c_str(), &st) == 0) {
            fprintf(stderr, "bench_tree: the daemon answered done but left %s\n", strDaemonTree.c_str());
            break;
        }
        plainSecs.push_back(dPlain);
        daemonSecs.push_back(dDaemon);
        ratios.push_back(dDaemon / dPlain);
        plainCpus.push_back(dPlainCpu);
        daemonCpus.push_back(dDaemonCpu);
        cpuRatios.push_back(dPlainCpu > 0 ? dDaemonCpu / dPlainCpu : 0);
        fprintf(stderr, "bench_tree:   run %d: daemon %.1f ms (CPU %.2f s), rm -rf %.1f ms (CPU %.2f s)\n", i + 1,
                dDaemon * 1e3, dDaemonCpu, dPlain * 1e3, dPlainCpu);
    }
    RemovePath(strFloorTree);
    RemovePath(strDaemonTree);
    if (static_cast<int>(ratios.size()) == opt.nRepeat) {
        daemonMs.Set(Median(daemonSecs) * 1e3);
        plainMs.Set(Median(plainSecs) * 1e3);
        times.Set(Median(ratios));
        daemonCpu.Set(Median(daemonCpus));
        plainCpu.Set(Median(plainCpus));
        cpuTimes.Set(Median(cpuRatios));
    }
    rows.insert(rows.end(), {daemonMs, plainMs, times, daemonCpu, plainCpu, cpuTimes});
}

int ParseOptions(int argc, char** argv, Options& opt)
{
    const BenchOption options[] = {{"--entries", &opt.nEntries},         {"--tree-folders", &opt.nTreeFolders},
                                   {"--tree-files", &opt.nTreeFiles},     {"--up-folders", &opt.nUpFolders},
                                   {"--up-files", &opt.nUpFiles},         {"--repeat", &opt.nRepeat},
                                   {"--base-daemon", &opt.strBaseDaemon}, {"--disk-dir", &opt.strDiskDir},
                                   {"--tmpfs-dir", &opt.strTmpfsDir},     {"--rows", &opt.bRows}};
    const char* pszUsage =
        "usage: bench_tree [--entries N] [--tree-folders N] [--tree-files N] [--up-folders N]\n"
        "                  [--up-files N] [--repeat R] [--base-daemon PATH] [--disk-dir DIR]\n"
        "                  [--tmpfs-dir DIR] [--rows]\n"
        "  --entries N       files of the listed folder (default 100000)\n"
        "  --tree-folders N  folders of the downloaded and of the deleted tree (default 1000)\n"
        "  --tree-files N    files in each of them (default 100)\n"
        "  --up-folders N    folders of the directory upload (default 100)\n"
        "  --up-files N      1 KiB files in each of them (default 100)\n"
        "  --repeat R        runs of each timed measurement (default 3)\n"
        "  --base-daemon PATH  the baseline corvane binary the directory uploads compare with\n"
        "  --disk-dir DIR    a folder on the machine's disk, not tmpfs (default /var/tmp)\n"
        "  --tmpfs-dir DIR   a folder on tmpfs (default /dev/shm)\n"
        "  --rows            tab-separated rows for bench/run instead of a table\n";
    if (!ParseArgs(argc, argv, options, pszUsage))
        return -1;
    const bool bBad = opt.nEntries < 1 || opt.nTreeFolders < 1 || opt.nTreeFiles < 1 || opt.nTreeFolders > 1000 ||
                      opt.nUpFolders < 1 || opt.nUpFolders > 100 || opt.nUpFiles < 1 || opt.nRepeat < 1;
    return CheckOptions(bBad,
                        "bench_tree: counts must be positive, --tree-folders and --up-folders at most 1000 and 100\n");
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (ParseOptions(argc, argv, opt) != 0)
        return 2;
    std::vector<BenchRow> rows = {MachineBusyRow(kProgram, "tree_machine_busy_before")};

    CScratchDir scratch;
    if (scratch.Create(kProgram) != 0)
        return 1;
    const std::string strFlat = scratch.Path() + "/flat", strTree = scratch.Path() + "/tree";
    std::vector<std::string> created;
    TreeFacts facts;
    fprintf(stderr, "bench_tree: creating a folder of %d files and a tree of %d x %d files\n", opt.nEntries,
            opt.nTreeFolders, opt.nTreeFiles);
    if (!MakeFlatFolder(strFlat, opt.nEntries, created) || !MakeTree(strTree, opt.nTreeFolders, opt.nTreeFiles, facts))
        return 1;

    {
        // A fresh daemon: the memory of the tree's list is the first thing it holds.
        CBenchDaemon daemon;
        daemon.SetWideLinks();  // the trees are linked in from outside the shared folder
        if (!StartDaemon(daemon, CORVANE_BIN, false, kProgram) ||
            !ShareInto(daemon, strTree, "tree", ShareBy::SymLink, kProgram) ||
            !ShareInto(daemon, strFlat, "flat", ShareBy::SymLink, kProgram))
            return 1;
        fprintf(stderr, "bench_tree: directory download list of the tree, %d x\n", opt.nRepeat);
        TreeRows(opt, daemon, strTree, facts, rows);

        const std::string strName = "dir_list_" + std::to_string(opt.nEntries);
        BenchRow daemonMs = MakeRow(strName, "ms", TargetKind::None, 0, 1);
        BenchRow plainMs = MakeRow(strName + "_readdir_sort", "ms", TargetKind::None, 0, 1);
        BenchRow times = MakeRow(strName + "_vs_readdir_sort", "x", TargetKind::AtMost, kTargetListingTimes, 2);
        fprintf(stderr, "bench_tree: listing of %d entries, %d x\n", opt.nEntries, opt.nRepeat);
        ListingRuns(opt, daemon, strFlat, daemonMs, plainMs, times);
        rows.insert(rows.end(), {daemonMs, plainMs, times});

        fprintf(stderr, "bench_tree: deletion of a tree of %d x %d files, %d x\n", opt.nTreeFolders, opt.nTreeFiles,
                opt.nRepeat);
        RemovalRows(opt, daemon, scratch.Path(), rows);
    }
    UploadRows(opt, Place::Disk, opt.strDiskDir, rows);
    UploadRows(opt, Place::Tmpfs, opt.strTmpfsDir, rows);
    {
        CBenchDaemon daemon;
        const std::string strName = "dir_list_" + std::to_string(opt.nEntries) + "_nopace";
        BenchRow daemonMs = MakeRow(strName, "ms", TargetKind::None, 0, 1);
        BenchRow plainMs = MakeRow(strName + "_readdir_sort", "ms", TargetKind::None, 0, 1);
        BenchRow times = MakeRow(strName + "_vs_readdir_sort", "x", TargetKind::None, 0, 2);
        fprintf(stderr, "bench_tree: listing of %d entries from corvane_nopace, %d x\n", opt.nEntries, opt.nRepeat);
        daemon.SetWideLinks();
        if (StartDaemon(daemon, CORVANE_NOPACE_BIN, false, kProgram) &&
            ShareInto(daemon, strFlat, "flat", ShareBy::SymLink, kProgram))
            ListingRuns(opt, daemon, strFlat, daemonMs, plainMs, times);
        rows.insert(rows.end(), {daemonMs, times});
    }

    return ReportRows(rows, opt.bRows);
}
