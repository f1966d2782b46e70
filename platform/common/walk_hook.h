// Inside the platform layer: the test hook of the tree walks (SetTreeWalkHook).
#pragma once

#include <atomic>

#include "platform/tree.h"

namespace plat {

extern std::atomic<TreeWalkHook> g_pfnTreeWalkHook;

// Calls the hook, when a test has set one.
inline void CallTreeWalkHook(TreeWalk eWalk, int nDepth)
{
    if (TreeWalkHook pfn = g_pfnTreeWalkHook.load(std::memory_order_relaxed))
        pfn(eWalk, nDepth);
}

}  // namespace plat
