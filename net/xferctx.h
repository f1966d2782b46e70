// The transfer context that the command loop keeps for the whole connection: one
// command prepares data (an open file, a listing, an upload target) and later commands
// move it. Used only by its session's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fs/names.h"
#include "net/protocol.h"
#include "platform/file.h"
#include "platform/share.h"
#include "platform/writeback.h"
#include "xfer/coverage.h"
#include "xfer/journal.h"
#include "xfer/upseal.h"

class CBufferBudget;

// The count of a range that starts at o, cut at the limit: nothing when it starts past
// the limit, what is left up to the limit when it runs past it. Never overflows.
inline uint64_t ClampCount(uint64_t o, uint64_t ullCount, uint64_t ullLimit)
{
    if (o > ullLimit)
        return 0;
    return ullCount > ullLimit - o ? ullLimit - o : ullCount;
}

struct CXferCtx {
    std::unique_ptr<uint8_t[]> pBin;  // whole file, listing, or upload collected in memory
    size_t nBinSize = 0;              // bytes held in pBin (0 when none)
    uint32_t nXferSize = 0;           // size of the current transfer as 32-bit requests see it
    uint64_t ullXferSize = 0;         // size of the current transfer as 64-bit requests see it
    plat::CPlatFile hFile;            // the transfer file when the data is not in pBin
    std::string strPath;              // local path the current command mapped
    plat::CShare share;               // the shared folder the current command's paths lie in
    std::string strPath2;             // copy/move destination, or a directory-upload entry
    bool bUploading = false;          // an upload created its file and is not complete yet
    int32_t nDirEntries = 0;          // entries of the directory download's list
    // Which of the two size fields the last sizing reply recorded: a data request of the
    // other width clamps against what is actually held instead.
    SizeWidth eRecordedWidth = SizeWidth::Bits32;
    std::string strUpPath;            // the file the pending upload created
    plat::CShare upShare;             // the shared folder that file lies in
    bool bUpBuffered = false;         // the pending upload is collected in pBin, not hFile
    // The file of a buffered upload, held open and locked until the upload ends, so that
    // no other opener can take it over (and no late end of this session can delete a
    // file someone else has written since).
    plat::CPlatFile hUpFile;
    uint64_t ullUpSize = 0;           // the announced size of the pending upload
    CCoverage upCover;                // the bytes of the pending upload that have arrived
    plat::CWriteBack upWriteBack;     // the write-back of a direct upload's file
    // The pending upload's own journal record (a directory upload's small entries are
    // recorded in dirBatch instead).
    CJournalRecord upRecord;
    // The directory upload: whether the session is in one, the entries it announced and
    // the entries requested so far, and its completed entries not flushed yet.
    bool bDirUp = false;
    uint32_t ulDirAnnounced = 0;
    uint32_t ulDirSeen = 0;
    CDirUpBatch dirBatch;
    std::string strUpDir;             // the directory upload's receiving folder, as the STB sent it
    // What the session may do, from its options: nothing in the shared folder changes
    // when read-only; buffers are charged to the budget (none: no limit).
    bool bReadOnly = false;
    CBufferBudget* pBudget = nullptr;
    // The STB's code page as the last mapping selected it: the paths of the session's
    // requests are decoded with it and the names it is sent are encoded with it.
    CStbNames names;

    // Allocates pBin for n bytes (zeroed when asked), charged to the budget; the buffer
    // held before must have been released. False, with nothing held, when the budget or
    // the memory is short: the caller takes the path it has for a failed allocation.
    bool TakeBin(uint64_t n, bool bZeroed);

    // Frees the buffer, setting pBin to none. A buffered upload that was still being
    // collected there is abandoned and its file deleted.
    void ReleaseBin();
    // Closes the transfer file. A direct upload still being written is abandoned and its
    // file deleted: no partial file is ever left looking complete.
    void CloseFile();
    // Releases what an earlier transfer left behind before a new one begins: the buffer,
    // then the file, each announced by its "E ip <line>" diagnostic line.
    void ReleaseEarlier(int nBinLine, int nFileLine);
    // Deletes the file of the pending upload while it is still held and its name still
    // leads to it, and forgets the upload.
    void AbandonUpload();

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
