// Write-back of a file written from front to back (an upload, a copy): each
// finished stretch of kStretch bytes is handed to the disk as soon as it is written, and
// the stretch before it is awaited, so that the data not yet on the disk stays within two
// stretches and the flush at the end has little left to do. A disk that caches what it
// is given (or the host of a virtual one) makes a flush wait for all it holds: the file
// is also flushed after every kFlushEvery bytes written back, so that the cache never
// holds more than that of it either.
#pragma once

#include <cstdint>

#include "platform/file.h"

namespace plat {

class CWriteBack {
public:
    static constexpr uint64_t kStretch = 8u << 20;
    static constexpr uint64_t kFlushEvery = 64u << 20;

    void Reset()
    {
        m_ullStarted = 0;
        m_ullSinceFlush = 0;
    }
    // The file's first ullDone bytes are written: starts the write-back of each whole
    // stretch among them not started yet, waits for the one before it, and flushes the
    // file every kFlushEvery bytes.
    void Advance(const CPlatFile& file, uint64_t ullDone);
    // The file is written up to ullSize: starts the write-back of what is left.
    void Finish(const CPlatFile& file, uint64_t ullSize);

private:
    uint64_t m_ullStarted = 0;     // the bytes whose write-back has been started
    uint64_t m_ullSinceFlush = 0;  // the bytes awaited since the file was last flushed
};

}  // namespace plat
