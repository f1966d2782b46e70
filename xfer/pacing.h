// The pause a data stream keeps after every full block.
#pragma once

#include <cstdint>

// Nanoseconds that pass between a full block of a data stream leaving and the next frame
// leaving: 1 ms, the protocol's pacing. The daemon links xfer/pacing.cpp; the measurements
// of the data path itself and the fuzzers link xfer/unpaced.cpp, which answers 0.
uint64_t BlockPauseNs();
