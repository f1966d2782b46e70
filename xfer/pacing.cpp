#include "xfer/pacing.h"

uint64_t BlockPauseNs()
{
    return 1000000;  // 1 ms
}
