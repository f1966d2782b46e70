#include "platform/common/walk_hook.h"

namespace plat {

std::atomic<TreeWalkHook> g_pfnTreeWalkHook{nullptr};

void SetTreeWalkHook(TreeWalkHook pfnHook) { g_pfnTreeWalkHook.store(pfnHook); }

}  // namespace plat
