// Reading /proc, shared by the sources of platform/process.h.
#pragma once

namespace plat {

// The fields of /proc/PID/stat the launcher needs.
struct ProcStat {
    int nGroup = 0;                  // process group
    unsigned long long ullStart = 0; // start time, clock ticks after boot
};

// Reads a /proc/PID/stat file. Async-signal-safe (no allocation): a freshly forked
// child of the threaded daemon may call it. False when it cannot be read or parsed.
bool ReadProcStat(const char* pszPath, ProcStat& stat);

}  // namespace plat
