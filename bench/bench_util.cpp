#include "bench_util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "machine_load.h"

namespace {

constexpr int kBusySampleMs = 1000;
constexpr double kBusyWarnShare = 0.10;

}  // namespace

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool Fail(const char* pszWhat, const std::string& strWhy)
{
    fprintf(stderr, "bench: %s: %s\n", pszWhat, strWhy.c_str());
    return false;
}

bool StartDaemon(CBenchDaemon& daemon, const std::string& strBinary, bool bTrace, const char* pszProgram)
{
    std::string strError;
    if (daemon.Start(strBinary, bTrace, strError) == 0)
        return true;
    fprintf(stderr, "%s: %s (%s)\n", pszProgram, strError.c_str(), strBinary.c_str());
    return false;
}

bool StartFloor(CBenchDaemon& floor, const std::string& strBinary, const char* pszProgram)
{
    std::string strError;
    if (floor.StartFloor(strBinary, strError) == 0)
        return true;
    fprintf(stderr, "%s: %s (%s)\n", pszProgram, strError.c_str(), strBinary.c_str());
    return false;
}

BenchRow PagePollRow(const std::string& strName, uint64_t ullSince, uint64_t ullFailuresSince)
{
    BenchRow row = MakeRow(strName, "pages", TargetKind::None, 0, 0);
    const uint64_t ullPolls = CPagePoller::TotalPolls() - ullSince;
    const uint64_t ullFailures = CPagePoller::TotalFailures() - ullFailuresSince;
    if (ullPolls > 0 && ullFailures == 0)
        row.Set(static_cast<double>(ullPolls));
    else
        Fail("status page", std::to_string(ullPolls) + " pages read whole, " + std::to_string(ullFailures) + " not");
    return row;
}

bool ShareInto(const CBenchDaemon& daemon, const std::string& strLocal, const std::string& strName, ShareBy eHow,
               const char* pszProgram)
{
    const std::string strShared = daemon.ShareDir() + "/" + strName;
    const bool bHard = eHow == ShareBy::HardLink;
    if ((bHard ? link(strLocal.c_str(), strShared.c_str()) : symlink(strLocal.c_str(), strShared.c_str())) == 0)
        return true;
    perror((std::string(pszProgram) + (bHard ? ": link" : ": symlink") + " into the shared folder").c_str());
    return false;
}

BenchRow MachineBusyRow(const char* pszProgram, const std::string& strName)
{
    BenchRow busy = MakeRow(strName, "%", TargetKind::None, 0, 0);
    const double dBusy = WarnIfBusy(pszProgram, kBusySampleMs, kBusyWarnShare);
    if (dBusy >= 0)
        busy.Set(100 * dBusy);
    return busy;
}

int CheckOptions(bool bBad, const char* pszWhy)
{
    if (!bBad)
        return 0;
    fputs(pszWhy, stderr);
    return -1;
}

bool ParseArgs(int argc, char** argv, std::span<const BenchOption> options, const char* pszUsage)
{
    for (int i = 1; i < argc; ++i) {
        const auto it = std::find_if(options.begin(), options.end(),
                                     [&](const BenchOption& o) { return strcmp(o.pszName, argv[i]) == 0; });
        if (it == options.end())
            return CheckOptions(true, pszUsage) == 0;
        if (bool* const* ppFlag = std::get_if<bool*>(&it->target)) {
            **ppFlag = it->bFlag;
            continue;
        }
        if (i + 1 >= argc)
            return CheckOptions(true, pszUsage) == 0;
        const char* pszValue = argv[++i];
        if (int* const* ppInt = std::get_if<int*>(&it->target))
            **ppInt = atoi(pszValue);
        else if (uint64_t* const* ppU64 = std::get_if<uint64_t*>(&it->target))
            **ppU64 = strtoull(pszValue, nullptr, 10);
        else if (double* const* ppDouble = std::get_if<double*>(&it->target))
            **ppDouble = atof(pszValue);
        else
            *std::get<std::string*>(it->target) = pszValue;
    }
    return true;
}
