// Write-back of a file written from front to back (an upload, later a copy): each
// finished stretch of kStretch bytes is handed to the disk as soon as it is written, and
// the stretch before it is awaited, so that the data not yet on the disk stays within two
// stretches and the flush at the end has little left to do.
#pragma once

#include <cstdint>

#include "platform/file.h"

class CWriteBack {
public:
    static constexpr uint64_t kStretch = 8u << 20;

    void Reset() { m_ullStarted = 0; }
    // The file's first ullDone bytes are written: starts the write-back of each whole
    // stretch among them not started yet, and waits for the one before it.
    void Advance(const plat::CPlatFile& file, uint64_t ullDone);
    // The file is written up to ullSize: starts the write-back of what is left.
    void Finish(const plat::CPlatFile& file, uint64_t ullSize);

private:
    uint64_t m_ullStarted = 0;  // the bytes whose write-back has been started
};
