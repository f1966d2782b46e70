// The names of a copy's temporaries, shared by both systems, and the copies' test hook.
#include <atomic>
#include <random>
#include <string>
#include <string_view>

#include "platform/common/copy_hook.h"
#include "platform/shellop.h"

namespace plat {

std::atomic<CopyHook> g_pfnCopyHook{nullptr};

void SetCopyHook(CopyHook pfnHook) { g_pfnCopyHook.store(pfnHook); }

namespace {

constexpr std::string_view kPrefix = ".corvane-copy-";
constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kTail = 6;

}  // namespace

bool IsCopyTemporaryName(std::string_view name)
{
    if (name.size() != kPrefix.size() + kTail || name.substr(0, kPrefix.size()) != kPrefix)
        return false;
    for (char c : name.substr(kPrefix.size()))
        if (kLetters.find(c) == std::string_view::npos)
            return false;
    return true;
}

std::string NewCopyTemporaryName()
{
    // Each thread draws from its own generator, seeded once by the system.
    thread_local std::mt19937_64 gen{std::random_device{}()};
    std::string strName(kPrefix);
    for (size_t i = 0; i < kTail; ++i)
        strName += kLetters[static_cast<size_t>(gen() % kLetters.size())];
    return strName;
}

}  // namespace plat
