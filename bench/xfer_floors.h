// What the download measurements are held against, measured in the same run: the length
// of the pacing sleep, and the same data path without the daemon. (The uploads are held
// against the floor server, bench/floor_server.cpp.)
#pragma once

#include <cstdint>
#include <string>


// The length of nanosleep(1 ms) in microseconds over nSamples sleeps, with this thread's
// timer slack at its minimum as the daemon's session threads have it. The median is
// what pacing costs at best; the mean includes the late wake-ups of a busy machine.
struct SleepFigures {
    double dMedianUs = 0;
    double dMeanUs = 0;
};
SleepFigures MeasureSleep(int nSamples);

// The download data path without the daemon: for every 32 KiB of the file a pread, a
// byte-sum checksum and one send of the whole data frame over a loopback TCP connection
// to a thread that reads and discards. dSeconds: the first read to the last byte read.
bool PlainSendLoop(const std::string& strFile, uint64_t ullSize, double& dSeconds);
