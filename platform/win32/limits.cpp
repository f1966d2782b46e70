#include "platform/limits.h"

#include <cstdio>

namespace plat {

long RaiseDescriptorLimit()
{
    // Sockets and files are kernel handles here, which have no limit of their own below
    // the system's (16,777,216 a process); only the C library's streams have one, raised
    // to its highest.
    _setmaxstdio(2048);
    return 16777216L;
}

}  // namespace plat
