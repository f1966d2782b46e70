#include <cstdio>

#include "platform/common/trace_out.h"

namespace plat {

void WriteTraceLine(const std::string& strLine)
{
    flockfile(stdout);
    fwrite_unlocked(strLine.data(), 1, strLine.size(), stdout);
    fflush_unlocked(stdout);
    funlockfile(stdout);
}

}  // namespace plat
