// Write-back of a file written from front to back (an upload, a copy): each
// finished stretch of kStretch bytes is handed to the disk as soon as it is written, and
// the stretch a lag behind it is awaited (for an upload the one just before), so that the
// data not yet on the disk stays within the lag and a stretch, and the flush at the end
// has little left to do. A disk that caches what it is given (or the host of a virtual
// one) makes a flush wait for all it holds: an upload's file is also flushed after every
// kFlushEvery bytes written back, so that the cache never holds more than that of it
// either.
#pragma once

#include <cstdint>

#include "platform/file.h"

namespace plat {

class CWriteBack {
public:
    static constexpr uint64_t kStretch = 8u << 20;
    static constexpr uint64_t kFlushEvery = 64u << 20;

    // An upload's: the stretch before the newest is awaited, and the file flushed every
    // kFlushEvery bytes, so that the reply to the last block has little left to wait for.
    CWriteBack() = default;
    // Another's: ullLag bytes (whole stretches, at least one) may still be on their way to
    // the disk behind the newest stretch; ullFlushEvery 0: no flush on the way. A copy,
    // whose only reply comes at its end, keeps more in flight: the disk writes a deeper
    // queue faster.
    CWriteBack(uint64_t ullLag, uint64_t ullFlushEvery) : m_ullLag(ullLag), m_ullFlushEvery(ullFlushEvery) {}

    void Reset()
    {
        m_ullStarted = 0;
        m_ullSinceFlush = 0;
    }
    // The file's first ullDone bytes are written: starts the write-back of each whole
    // stretch among them not started yet, waits for the one the lag leaves behind it, and
    // flushes the file as often as it was told.
    void Advance(const CPlatFile& file, uint64_t ullDone);
    // The file is written up to ullSize: starts the write-back of what is left.
    void Finish(const CPlatFile& file, uint64_t ullSize);

private:
    uint64_t m_ullLag = kStretch;
    uint64_t m_ullFlushEvery = kFlushEvery;
    uint64_t m_ullStarted = 0;     // the bytes whose write-back has been started
    uint64_t m_ullSinceFlush = 0;  // the bytes awaited since the file was last flushed
};

}  // namespace plat
