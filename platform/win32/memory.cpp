#include "platform/memory.h"

#include <malloc.h>

namespace plat {

// The Windows heap already takes large blocks (transfer buffers) straight from the system
// and gives them back when they are freed.
void TuneAllocator() {}

void ReleaseFreeMemory() { _heapmin(); }

}  // namespace plat
