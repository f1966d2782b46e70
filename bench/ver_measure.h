// The FC_VER_REQ measurements of bench_ver. Each starts a daemon of its own (so that one
// leaves nothing behind for the next: freed sessions, grown heaps), checks every reply
// byte for byte, and returns false with the reason on standard error when it cannot
// finish.
#pragma once

#include <string>
#include <vector>

#include "ver_serial.h"

struct IdleFigures {
    double dKiBPerSess = 0;   // (VmRSS with the sessions - VmRSS before) / sessions
    double dOpenRate = 0;     // sessions opened (connect + first reply) per second
    double dShutdownMs = -1;  // SIGTERM to the daemon's exit, every session open; -1: none
};

// One connection, one request at a time for dSeconds: send, read the whole reply, check
// it, repeat. With bTrace the daemon prints its diagnostic lines (to a pipe we drain).
bool MeasureSerial(const std::string& strDaemon, double dSeconds, bool bTrace, SerialFigures& figures);

// The same on a fresh daemon (quiet) and a fresh floor server (strFloor,
// bench/floor_server.cpp), or with bFloorIsDaemon a baseline daemon (quiet too), for
// dSeconds each, taking turns in blocks of a few milliseconds. ratios receives, for each
// pair of blocks, the daemon's rate as a percentage of the other's.
bool MeasureSerialPair(const std::string& strDaemon, const std::string& strFloor, bool bFloorIsDaemon,
                       double dSeconds, SerialFigures& daemon, SerialFigures& floor, std::vector<double>& ratios);

// nConns connections, each with one request outstanding at all times, for dSeconds.
// dRate receives the round trips per second of all of them together.
bool MeasureConcurrent(const std::string& strDaemon, double dSeconds, int nConns, double& dRate);

// Opens nSessions connections (each answered once) and reads the daemon's resident memory
// before and after. With bLargeFrame each session first takes one frame of the largest
// size, so that its whole frame buffer is resident: the most an idle session can hold.
// With bTimeShutdown the daemon is then stopped with SIGTERM, its sessions still open
// (dShutdownMs stays -1 when it does not end with status 0).
bool MeasureIdle(const std::string& strDaemon, int nSessions, bool bLargeFrame, bool bTimeShutdown,
                 IdleFigures& figures);
