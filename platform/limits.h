// Limits the system puts on the process.
#pragma once

namespace plat {

// Raises the soft limit of open descriptors to the hard limit, so that every session's
// socket and files fit as far as the system allows. Call once at start-up. The soft
// limit now in force, or -1 when it cannot be read.
long RaiseDescriptorLimit();

}  // namespace plat
