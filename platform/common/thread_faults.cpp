#include "platform/common/thread_faults.h"

#include <atomic>

#include "platform/thread.h"

namespace plat {

namespace {

// Creations still to fail, set by tests through ThreadFailNextCreations.
std::atomic<int> g_nFailCreations{0};

}  // namespace

void ThreadFailNextCreations(int n) { g_nFailCreations.store(n); }

bool TakeInjectedThreadFailure()
{
    int nFail = g_nFailCreations.load();
    while (nFail > 0) {
        if (g_nFailCreations.compare_exchange_weak(nFail, nFail - 1))
            return true;
    }
    return false;
}

}  // namespace plat
