// What every benchmark program needs beside its own measurements: the clock and the
// median, the reason a measurement gave up, the daemon started and handed its test data,
// the machine's load as a row, and the walk over the command line.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "bench_daemon.h"
#include "result_table.h"

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The median; the mean of the middle two for an even count, 0 for none.
double Median(std::vector<double> v);

// Says on standard error why a measurement gave up ("bench: WHAT: WHY"). Always false.
bool Fail(const char* pszWhat, const std::string& strWhy);

// Starts the daemon at strBinary; false, with the reason on standard error, when it does
// not come up.
bool StartDaemon(CBenchDaemon& daemon, const std::string& strBinary, bool bTrace, const char* pszProgram);
// Starts the floor server at strBinary (bench/floor_server.cpp) in its place; the same.
bool StartFloor(CBenchDaemon& floor, const std::string& strBinary, const char* pszProgram);

// How test data of the scratch area appears in the daemon's shared folder: a file as a
// hard link (one copy on the disk and in the page cache for every daemon of the run), a
// folder as a symbolic link.
enum class ShareBy { HardLink, SymLink };
// Makes strLocal appear as ShareDir()/strName; false, with the reason on standard error,
// when it cannot.
bool ShareInto(const CBenchDaemon& daemon, const std::string& strLocal, const std::string& strName, ShareBy eHow,
               const char* pszProgram);

// Samples how busy the machine is before the first measurement (warning when it is) and
// reports it as an info row named strName.
BenchRow MachineBusyRow(const char* pszProgram, const std::string& strName);

// With --poll-page (CBenchDaemon::PollPages): the row that shows the daemons' status pages
// were read while the measurements ran, its value the pages read whole since ullSince
// (CPagePoller::TotalPolls() before). It fails when none was read or one was not.
BenchRow PagePollRow(const std::string& strName, uint64_t ullSince = 0, uint64_t ullFailuresSince = 0);

// One option of a benchmark's command line. A bool target makes a flag, which takes no
// value and sets bFlag; any other target takes the next argument as its value.
struct BenchOption {
    const char* pszName;
    std::variant<int*, uint64_t*, double*, std::string*, bool*> target;
    bool bFlag = true;
};
// Stores every option of the command line in its target. false, after printing pszUsage,
// on an unknown argument or a missing value.
bool ParseArgs(int argc, char** argv, std::span<const BenchOption> options, const char* pszUsage);
// A benchmark's options checked: -1 after printing pszWhy when they are bad (bBad), else 0.
int CheckOptions(bool bBad, const char* pszWhy);
