#include "platform/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace plat {

namespace {
std::atomic<bool> g_bQuiet{false};
}  // namespace

void SetTraceQuiet(bool bQuiet) { g_bQuiet.store(bQuiet, std::memory_order_relaxed); }

void Trace(const char* pszFormat, ...)
{
    if (g_bQuiet.load(std::memory_order_relaxed))
        return;
    // Format first, then write once: stdio locks the stream per call, so the line
    // reaches standard output whole even when several sessions print at once.
    char szLine[1024];
    va_list args;
    va_start(args, pszFormat);
    int n = vsnprintf(szLine, sizeof(szLine), pszFormat, args);
    va_end(args);
    if (n < 0)
        return;
    size_t nLen = static_cast<size_t>(n) < sizeof(szLine) ? static_cast<size_t>(n) : sizeof(szLine) - 1;
    fwrite(szLine, 1, nLen, stdout);
    fflush(stdout);
}

}  // namespace plat
