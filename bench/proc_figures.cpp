#include "proc_figures.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

long ProcStatusField(pid_t pid, const char* pszKey)
{
    if (pid <= 0)
        return -1;
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string strLine;
    const size_t nKey = strlen(pszKey);
    while (std::getline(in, strLine)) {
        if (strLine.compare(0, nKey, pszKey) == 0 && strLine.size() > nKey && strLine[nKey] == ':')
            return strtol(strLine.c_str() + nKey + 1, nullptr, 10);
    }
    return -1;
}

long ProcOpenDescriptors(pid_t pid)
{
    if (pid <= 0)
        return -1;
    std::error_code ec;
    long nCount = 0;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end; !ec && it != end;
         it.increment(ec))
        ++nCount;
    return ec ? -1 : nCount;
}

double ProcThreadsCpuSeconds(pid_t pid)
{
    if (pid <= 0)
        return -1;
    std::error_code ec;
    unsigned long long ullNanos = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(entry.path() / "schedstat");
        unsigned long long ullRun = 0;
        if (in >> ullRun)
            ullNanos += ullRun;
    }
    return ec ? -1 : static_cast<double>(ullNanos) / 1e9;
}

double ProcCpuSeconds(pid_t pid)
{
    if (pid <= 0)
        return -1;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string strStat;
    std::getline(in, strStat);
    // The command name may hold spaces and parentheses: the fields start after the last ')'.
    const size_t nClose = strStat.rfind(')');
    if (nClose == std::string::npos)
        return -1;
    std::istringstream fields(strStat.substr(nClose + 1));
    std::string strField;
    unsigned long long ullUser = 0, ullSystem = 0;
    // Fields 3..13 (state .. cmajflt) come first, then utime (14) and stime (15).
    for (int i = 3; i <= 13; ++i)
        fields >> strField;
    if (!(fields >> ullUser >> ullSystem))
        return -1;
    const long nTicks = sysconf(_SC_CLK_TCK);
    return nTicks > 0 ? static_cast<double>(ullUser + ullSystem) / static_cast<double>(nTicks) : -1;
}

double OwnCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    auto seconds = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
    };
    return seconds(ru.ru_utime) + seconds(ru.ru_stime);
}
