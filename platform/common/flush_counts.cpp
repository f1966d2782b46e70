#include "platform/common/flush_note.h"

#include <atomic>

namespace plat {

namespace {

std::atomic<uint64_t> g_aullCounts[3];
std::atomic<FlushObserver> g_pfnObserver{nullptr};
std::atomic<void*> g_pObserverContext{nullptr};

}  // namespace

void NoteFlush(FlushKind eKind)
{
    g_aullCounts[static_cast<int>(eKind)].fetch_add(1);
    if (const FlushObserver pfn = g_pfnObserver.load(); pfn != nullptr)
        pfn(eKind, g_pObserverContext.load());
}

FlushCounts GetFlushCounts()
{
    FlushCounts counts;
    counts.ullFiles = g_aullCounts[static_cast<int>(FlushKind::File)].load();
    counts.ullFolders = g_aullCounts[static_cast<int>(FlushKind::Folder)].load();
    counts.ullVolumes = g_aullCounts[static_cast<int>(FlushKind::Volume)].load();
    return counts;
}

void SetFlushObserver(FlushObserver pfn, void* pContext)
{
    g_pObserverContext.store(pContext);
    g_pfnObserver.store(pfn);
}

}  // namespace plat
