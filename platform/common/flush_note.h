// Inside the platform layer: every flush is noted here before it reaches the system.
#pragma once

#include "platform/flush.h"

namespace plat {

// Counts the flush and tells the observer a test set, if any.
void NoteFlush(FlushKind eKind);

}  // namespace plat
