#include "machine_load.h"

#include <cstdio>
#include <unistd.h>

namespace {

// The first line of /proc/stat: total and idle (idle + iowait) ticks of every CPU.
bool ReadCpuTicks(unsigned long long& ullTotal, unsigned long long& ullIdle)
{
    FILE* f = fopen("/proc/stat", "r");
    if (f == nullptr)
        return false;
    unsigned long long v[8] = {};
    int n = fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                   &v[6], &v[7]);
    fclose(f);
    if (n < 5)
        return false;
    ullTotal = 0;
    for (unsigned long long x : v)
        ullTotal += x;
    ullIdle = v[3] + v[4];
    return true;
}

}  // namespace

double SampleCpuBusy(int nMillis)
{
    unsigned long long t0 = 0, i0 = 0, t1 = 0, i1 = 0;
    if (!ReadCpuTicks(t0, i0))
        return -1;
    usleep(static_cast<useconds_t>(nMillis) * 1000);
    if (!ReadCpuTicks(t1, i1) || t1 <= t0)
        return -1;
    return 1.0 - static_cast<double>(i1 - i0) / static_cast<double>(t1 - t0);
}

double WarnIfBusy(const char* pszProgram, int nMillis, double dThreshold)
{
    double dBusy = SampleCpuBusy(nMillis);
    if (dBusy > dThreshold)
        fprintf(stderr,
                "%s: warning: the machine was %.0f%% busy before the run (other programs); "
                "the figures below will be low and noisy\n",
                pszProgram, dBusy * 100);
    return dBusy;
}
