// The data streams without their pause, for measuring the data path itself and for
// fuzzing at full speed. Never part of an installed program.
#include "xfer/pacing.h"

uint64_t BlockPauseNs()
{
    return 0;
}
