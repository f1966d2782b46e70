#include <cstdio>

#include "platform/common/trace_out.h"

namespace plat {

void WriteTraceLine(const std::string& strLine)
{
    _lock_file(stdout);
    fwrite(strLine.data(), 1, strLine.size(), stdout);
    fflush(stdout);
    _unlock_file(stdout);
}

}  // namespace plat
