// Inside the platform layer: the test hook of the copies (SetCopyHook).
#pragma once

#include <atomic>

#include "platform/shellop.h"

namespace plat {

extern std::atomic<CopyHook> g_pfnCopyHook;

// Calls the hook, when a test has set one.
inline void CallCopyHook(CopyStep eStep, uint64_t ullWritten)
{
    if (CopyHook pfn = g_pfnCopyHook.load(std::memory_order_relaxed))
        pfn(eStep, ullWritten);
}

}  // namespace plat
