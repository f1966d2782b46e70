// What a path request costs beside the cheapest exchange: FC_FILE_SIZE_REQ of a file five
// folders deep against FC_VER_REQ, each on a connection of its own, on the daemon of this
// build and on a baseline daemon. The two daemons and the two requests take turns in
// blocks of a few milliseconds, so that the load of a shared machine weighs on all four
// alike; the figures are medians over the blocks. The benchmark and both daemons run on
// one CPU: the figures count what the two sides compute, not wake-ups across CPUs.
#pragma once

#include <string>
#include <vector>

// The STB path that FC_FILE_SIZE_REQ asks for, and the size of its file.
constexpr const char* kDeepStbPath = "/a/b/c/d/e/file.bin";
constexpr unsigned kDeepFileBytes = 1000;

struct SizeRatioFigures {
    double dVerRate = 0;    // FC_VER_REQ round trips per second (the median block)
    double dSizeRate = 0;   // FC_FILE_SIZE_REQ round trips per second
    double dRatio = 0;      // size rate / ver rate, the median of the rounds' own ratios
    double dVerCpuUs = 0;   // the daemon's CPU time per FC_VER_REQ round trip
    double dSizeCpuUs = 0;  // and per FC_FILE_SIZE_REQ round trip
};

// One daemon binary to measure and what came of it.
struct SizeRatioTarget {
    std::string strBinary;
    std::string strWrapper;  // the daemon runs through it (CBenchDaemon::SetWrapper); empty: directly
    SizeRatioFigures figures;
    std::vector<double> ratios;  // one per round, in the order of the rounds
};

// Starts every target and measures them for dSeconds in rounds: each round runs a block
// of nBlock FC_VER_REQ and one of nBlock FC_FILE_SIZE_REQ on every target. Every reply is
// checked. False, with the reason on standard error, when a daemon does not start or
// answers wrongly; the figures are then not to be used.
bool MeasureSizeRatios(std::vector<SizeRatioTarget>& targets, double dSeconds, int nBlock);
