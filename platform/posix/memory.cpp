#include "platform/memory.h"

#include <malloc.h>

namespace plat {

void TuneAllocator()
{
    // A fixed threshold: glibc would otherwise raise it after the first freed 10 MiB
    // buffer, and later buffers would stay in the heap after their session ended.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    // The first trim sets the allocator's state up; done here, on the main thread, so
    // that two sessions ending together never race to do it (under the sanitizers,
    // where this allocator is otherwise unused, that race aborts the process).
    malloc_trim(0);
}

void ReleaseFreeMemory() { malloc_trim(0); }

}  // namespace plat
