#include "platform/limits.h"

#include <climits>
#include <sys/resource.h>

namespace plat {

long RaiseDescriptorLimit()
{
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) != 0)
        return -1;
    if (r.rlim_cur != r.rlim_max) {
        const rlimit raised{r.rlim_max, r.rlim_max};
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            r.rlim_cur = r.rlim_max;
    }
    return r.rlim_cur > static_cast<rlim_t>(LONG_MAX) ? LONG_MAX : static_cast<long>(r.rlim_cur);
}

}  // namespace plat
