#include "xfer/pendingupload.h"

#include <algorithm>

#include "net/errlines.h"
#include "platform/flush.h"
#include "xfer/upseal.h"

void CPendingUpload::Begin(const plat::CShare& shareIn, const std::string& strPathIn, uint64_t ullSizeIn,
                           const plat::CPlatFile& hFile, CDirUpBatch* pBatch)
{
    share = shareIn;
    strPath = strPathIn;
    ullSize = ullSizeIn;
    bUploading = ullSize > 0;
    bBuffered = false;
    cover.Reset(ullSize);
    writeBack.Reset();
    if (ullSize == 0)
        return;
    // Journaled while still empty: a crash from here on leaves nothing that looks whole.
    CJournalEntry entry{share, strPath, {}};
    if (hFile.Identity(entry.id) != 0)
        return;
    // Recorded at the length the file is about to be given.
    entry.id.ullSize = ullSize;
    if (pBatch != nullptr && ullSize <= kMaxBufferedUpload)
        pBatch->Journal(entry);
    else
        record.Add(entry, true);
}

void CPendingUpload::Collect(plat::CPlatFile& hFile)
{
    bBuffered = true;
    hHeld.TakeFrom(hFile);
}

bool CPendingUpload::Take(uint64_t o, const uint8_t* pBytes, uint64_t t, std::span<uint8_t> bin,
                          plat::CPlatFile& hFile)
{
    if (!cover.CanAdd(o, t))
        return false;
    if (bBuffered) {
        if (o > bin.size() || t > bin.size() - o)  // never past the buffer
            return false;
        std::copy_n(pBytes, t, bin.data() + o);
    } else if (!hFile.IsOpen() || hFile.WriteAt(o, pBytes, t) != 0) {
        return false;
    }
    cover.Add(o, t);
    if (!bBuffered)
        writeBack.Advance(hFile, cover.Front());
    return true;
}

int CPendingUpload::Finish(std::span<const uint8_t> bin, plat::CPlatFile& hFile, CDirUpBatch* pBatch)
{
    const bool bWasBuffered = bBuffered;
    plat::CPlatFile& held = bWasBuffered ? hHeld : hFile;
    bool bOk = held.IsOpen();
    if (bWasBuffered) {
        // The collected data goes out in one write through the file held since the start.
        bOk = bOk && held.WriteAt(0, bin.data(), bin.size()) == 0;
    } else if (pBatch != nullptr) {
        TraceErrLine(ErrLine::RsDataUpDirectEnd);
    }
    bUploading = false;
    bBuffered = false;
    if (bOk) {
        // What is left of a large file is handed to the disk now; the small files of a
        // directory upload are written back together when their batch is flushed.
        if (!bWasBuffered)
            writeBack.Finish(held, ullSize);
        bOk = Seal(held, pBatch) == 0;
    }
    // A file that cannot be made whole on the disk is removed while it is still held.
    if (!bOk)
        Discard(held);
    held.Close();
    return bOk ? 0 : -1;
}

void CPendingUpload::Abandon(plat::CPlatFile& hFile)
{
    // Only the held file is ever removed: a name without it may be anybody's by now.
    Discard(bBuffered ? hHeld : hFile);
    bUploading = false;
    bBuffered = false;
}

int CPendingUpload::Seal(const plat::CPlatFile& held, CDirUpBatch* pBatch)
{
    if (pBatch != nullptr && pBatch->Join(share, strPath, held, ullSize, record) == 0)
        return 0;
    if (held.Flush() != 0)
        return -1;
    // The name was made at the start; it reaches the disk with its folder.
    plat::FlushParentFolder(share, strPath);
    record.End(true);
    return 0;
}

void CPendingUpload::Discard(plat::CPlatFile& held)
{
    // The removal reaches the disk before a record of its own goes: the record must not
    // vanish while the file it names could still come back.
    if (held.IsOpen() && plat::RemoveHeldFile(share, strPath, held) == 0 && record.Active())
        plat::FlushParentFolder(share, strPath);
    held.Close();
    record.End(false);
}
