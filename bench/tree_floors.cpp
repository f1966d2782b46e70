#include "tree_floors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench_files.h"
#include "bench_util.h"
#include "platform/dir.h"

namespace {

// nftw has no argument for its callback: the walk in progress counts here.
WalkFacts g_Walk;

int CountEntry(const char*, const struct stat* pStat, int nFlag, struct FTW*)
{
    if (nFlag == FTW_F && S_ISREG(pStat->st_mode)) {
        ++g_Walk.ullFiles;
        g_Walk.ullFileBytes += static_cast<uint64_t>(pStat->st_size);
    } else if (nFlag == FTW_D) {
        ++g_Walk.ullFolders;
    } else if (nFlag == FTW_DNR || nFlag == FTW_NS) {
        return 1;  // something could not be read: the walk fails
    }
    return 0;
}

}  // namespace

bool PlainListing(const std::string& strDir, std::vector<std::string>& names, double& dSeconds)
{
    names.clear();
    const auto t0 = Clock::now();
    DIR* pDir = opendir(strDir.c_str());
    if (pDir == nullptr)
        return false;
    std::vector<std::string> others;
    bool bDot = false, bDotDot = false;
    while (dirent* pEnt = readdir(pDir)) {
        const char* psz = pEnt->d_name;
        if (psz[0] == '.' && psz[1] == '\0')
            bDot = true;
        else if (psz[0] == '.' && psz[1] == '.' && psz[2] == '\0')
            bDotDot = true;
        else
            others.emplace_back(psz);
    }
    closedir(pDir);
    // The daemon's own order, so that the floor sorts at the daemon's cost.
    std::sort(others.begin(), others.end(),
              [](const std::string& a, const std::string& b) { return plat::FoldedNameLess(a, b); });
    names.reserve(others.size() + 2);
    if (bDot)
        names.emplace_back(".");
    if (bDotDot)
        names.emplace_back("..");
    for (std::string& s : others)
        names.push_back(std::move(s));
    dSeconds = Seconds(Clock::now() - t0);
    return true;
}

bool PlainTreeWalk(const std::string& strRoot, WalkFacts& facts, double& dSeconds)
{
    g_Walk = WalkFacts{};
    const auto t0 = Clock::now();
    const int rc = nftw(strRoot.c_str(), CountEntry, 64, FTW_PHYS);
    dSeconds = Seconds(Clock::now() - t0);
    facts = g_Walk;
    return rc == 0;
}

bool PlainRemoveTree(const std::string& strRoot, double& dSeconds, double& dCpuSeconds)
{
    std::string strRm = "rm", strFlags = "-rf", strPath = strRoot;
    char* argv[] = {strRm.data(), strFlags.data(), strPath.data(), nullptr};
    const auto t0 = Clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, "rm", nullptr, nullptr, argv, environ) != 0)
        return Fail("rm -rf", "cannot be started");
    int nStatus = 0;
    struct rusage usage {};
    while (wait4(pid, &nStatus, 0, &usage) < 0) {
        if (errno != EINTR)
            return Fail("rm -rf", strerror(errno));
    }
    dSeconds = Seconds(Clock::now() - t0);
    auto seconds = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6; };
    dCpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    struct stat st;
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0 || lstat(strRoot.c_str(), &st) == 0)
        return Fail("rm -rf", "did not remove " + strRoot);
    return true;
}
