// Keeping the daemon's memory in step with its load: what a burst of sessions used is
// given back to the system once they end.
#pragma once

namespace plat {

// Called once at start-up: large transfer buffers come straight from the system and go
// back to it when freed.
void TuneAllocator();
// Gives free memory that the allocator still holds back to the system.
void ReleaseFreeMemory();

}  // namespace plat
