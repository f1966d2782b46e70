// The transfer context that the command loop keeps for the whole connection: one
// command prepares data (an open file, a listing, an upload target) and later commands
// move it. Used only by its session's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "fs/names.h"
#include "net/errlines.h"
#include "net/options.h"
#include "net/protocol.h"
#include "platform/file.h"
#include "platform/share.h"
#include "xfer/pendingupload.h"
#include "xfer/upseal.h"

// The count of a range that starts at o, cut at the limit: nothing when it starts past
// the limit, what is left up to the limit when it runs past it. Never overflows.
inline uint64_t ClampCount(uint64_t o, uint64_t ullCount, uint64_t ullLimit)
{
    if (o > ullLimit)
        return 0;
    return ullCount > ullLimit - o ? ullLimit - o : ullCount;
}

struct CXferCtx {
    // A context for a session that works under the options (which outlive it).
    explicit CXferCtx(const CDaemonOptions& sessOptions) : options(sessOptions) {}

    // What the session may do: nothing in the shared folder changes when read-only;
    // buffers are charged to the budget (none: no limit); data streams pause after each
    // full block.
    const CDaemonOptions& options;
    std::unique_ptr<uint8_t[]> pBin;  // whole file, listing, or upload collected in memory
    size_t nBinSize = 0;              // bytes held in pBin (0 when none)
    uint32_t nXferSize = 0;           // size of the current transfer as 32-bit requests see it
    uint64_t ullXferSize = 0;         // size of the current transfer as 64-bit requests see it
    plat::CPlatFile hFile;            // the transfer file when the data is not in pBin
    std::string strPath;              // local path the current command mapped
    plat::CShare share;               // the shared folder the current command's paths lie in
    std::string strPath2;             // copy/move destination, or a directory-upload entry
    int32_t nDirEntries = 0;          // entries of the directory download's list
    // Which of the two size fields the last sizing reply recorded: a data request of the
    // other width clamps against what is actually held instead.
    SizeWidth eRecordedWidth = SizeWidth::Bits32;
    // The upload begun and not complete yet (BeginUpload, TakeBlock): its bUploading says
    // whether there is one.
    CPendingUpload upload;
    // The directory upload: whether the session is in one, the entries it announced and
    // the entries requested so far, and its completed entries not flushed yet.
    bool bDirUp = false;
    uint32_t ulDirAnnounced = 0;
    uint32_t ulDirSeen = 0;
    CDirUpBatch dirBatch;
    std::string strUpDir;             // the directory upload's receiving folder, as the STB sent it
    // The STB's code page as the last mapping selected it: the paths of the session's
    // requests are decoded with it and the names it is sent are encoded with it.
    CStbNames names;

    // Allocates pBin for n bytes (zeroed when asked), charged to the budget; the buffer
    // held before must have been released. False, with nothing held, when the budget or
    // the memory is short: the caller takes the path it has for a failed allocation.
    bool TakeBin(uint64_t n, bool bZeroed);

    // The buffer's bytes (none when no buffer is held).
    std::span<uint8_t> Bin() { return {pBin.get(), nBinSize}; }
    // The batch of the directory upload the session is in; null outside one.
    CDirUpBatch* DirUpBatch() { return bDirUp ? &dirBatch : nullptr; }

    // Frees the buffer, setting pBin to none. A buffered upload that was still being
    // collected there is abandoned and its file deleted.
    void ReleaseBin();
    // Closes the transfer file. A direct upload still being written is abandoned and its
    // file deleted: no partial file is ever left looking complete.
    void CloseFile();
    // Releases what an earlier transfer left behind before a new one begins: the buffer,
    // then the file, each announced by the line of its place (net/errlines.h).
    void ReleaseEarlier(ErrLine eHeldBuffer, ErrLine eHeldFile);
    // Records the size of the current transfer in the field of its width, and the width
    // as the one last recorded. A 32-bit record keeps the low 32 bits.
    void RecordSize(SizeWidth width, uint64_t ullSize);
    // The size field of the width, whichever width was recorded last.
    uint64_t RecordedSize(SizeWidth width) const { return width == SizeWidth::Bits32 ? nXferSize : ullXferSize; }
    // The size of what is actually held: the buffer's, else the open file's, else 0.
    uint64_t HeldSize() const;
    // The limit a data request of the given width clamps against: the recorded size when
    // the last sizing reply had that width, otherwise the size of what is held.
    uint64_t DataLimit(SizeWidth width) const;

    // What the command loop does when the session ends: the buffer is freed, the transfer
    // file closed, the file of an unfinished upload deleted, and the completed entries of
    // a directory upload flushed.
    void ReleaseAtEnd();
};
