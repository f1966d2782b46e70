// What a daemon full of sessions costs: its threads, resident and virtual memory with
// every session the caps allow open, each host (a loopback address of its own,
// 127.1.x.y) holding all that the per-host cap lets it.
#pragma once

#include <string>

struct FullFigures {
    int nHosts = 0;  // addresses it took to fill the daemon
    long nThreadsBefore = -1, nThreads = -1;
    long nRssBeforeKiB = -1, nRssKiB = -1;  // VmRSS
    long nVmBeforeKiB = -1, nVmKiB = -1;    // VmSize
    bool bNextRefused = false;              // a connection from a further address was closed
};

// Starts the daemon at strBinary with the caps nSessions and nPerHost, opens nSessions
// connections, nPerHost from each address, each answering FC_VER_REQ, and reads /proc;
// then tries one connection more from a fresh address. False, with the reason on
// standard error, when the daemon does not start or a session is refused.
bool MeasureFull(const std::string& strBinary, int nSessions, int nPerHost, FullFigures& figures);
