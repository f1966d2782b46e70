// What /proc says about a process the benchmarks started (the daemon or a floor server):
// its memory and threads, and the CPU time it has used.
#pragma once

#include <sys/types.h>

// A numeric field of /proc/PID/status ("VmRSS" in KiB, "Threads"), or -1.
long ProcStatusField(pid_t pid, const char* pszKey);
// The descriptors the process holds open (the entries of /proc/PID/fd), or -1.
long ProcOpenDescriptors(pid_t pid);

// CPU time the live threads of the process have run so far, in seconds (from
// /proc/PID/task/*/schedstat), or -1. Threads that have ended are not counted.
double ProcThreadsCpuSeconds(pid_t pid);

// User plus system time of the whole process so far (utime + stime of /proc/PID/stat,
// ended threads included), in seconds, or -1. Its resolution is one clock tick (10 ms):
// for measurements of a second or more.
double ProcCpuSeconds(pid_t pid);

// User plus system time of this process so far, in seconds: what the measuring side
// itself spends.
double OwnCpuSeconds();
