// The upload a session has begun and not finished: the file an open request created
// (FC_FILE_UP_REQ, FC_BIGFILE_UP_REQ, RS_FILE_UP_REQ), where it lies, its announced size,
// which of its bytes have arrived, and what makes it last or go: its entry in the
// journal while it is unfinished, its data on the disk before the STB hears that it is
// complete, and its removal, only while its name still leads to it, when it is given up.
// A small upload is collected in the transfer buffer (pBin) while its file stays held,
// open and locked, so that no other opener can take it over (and no late end of the
// session can delete a file someone else has written since); a large one is written
// block by block to the transfer file (hFile). Both stay the transfer context's: the
// operations are handed them. Used by its session's thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/file.h"
#include "platform/share.h"
#include "xfer/coverage.h"
#include "xfer/journal.h"
#include "platform/writeback.h"

class CDirUpBatch;

// Uploads up to this size are collected in memory.
constexpr uint64_t kMaxBufferedUpload = 10485760;

// The fields are written only by the operations below; the transfer context and the
// handlers read bUploading, bBuffered, ullSize and the coverage.
class CPendingUpload {
public:
    // Begins the upload of the file just created in hFile at strPathIn in the share, of
    // ullSizeIn announced bytes, and journals it while it is still empty (unless it is
    // empty for good). pBatch is the batch of the directory upload the session is in
    // (null outside one), whose record takes a small entry without a flush. The upload is
    // pending unless it is empty: an empty file is complete once it exists.
    void Begin(const plat::CShare& shareIn, const std::string& strPathIn, uint64_t ullSizeIn,
               const plat::CPlatFile& hFile, CDirUpBatch* pBatch);
    // The pending upload is collected in the transfer buffer: its file leaves hFile and is
    // held until the upload ends.
    void Collect(plat::CPlatFile& hFile);
    // Stores the block [o, o + t), which lies within the announced size, in the buffer
    // (collected) or in hFile (direct), unless the coverage cannot record it (then the STB
    // may send it again later). False when it was not stored.
    bool Take(uint64_t o, const uint8_t* pBytes, uint64_t t, std::span<uint8_t> bin, plat::CPlatFile& hFile);
    // Every byte of the announced size has arrived.
    bool Complete() const { return cover.Complete(); }
    // Ends the complete upload: a collected one is written out from the buffer in one
    // piece; either kind is then brought to the disk (with the batch of the directory
    // upload the session is in, pBatch, or on its own now), its journal entry ended, and
    // closed. Inside a directory upload a direct one says so first (its "E ip" line). A
    // file that cannot be written out or flushed is removed while still held. 0, or -1
    // then. No upload is pending afterwards; the buffer is the caller's to free.
    int Finish(std::span<const uint8_t> bin, plat::CPlatFile& hFile, CDirUpBatch* pBatch);
    // Gives the upload up: its file (the held one, or hFile for a direct one) is removed
    // while its name still leads to it, and closed, and its journal entry ended.
    void Abandon(plat::CPlatFile& hFile);

    // The upload created its file and is not complete yet.
    bool bUploading = false;
    // It is collected in the transfer buffer, its file held in hHeld.
    bool bBuffered = false;
    plat::CPlatFile hHeld;
    uint64_t ullSize = 0;  // the announced size
    std::string strPath;   // the file the upload created
    plat::CShare share;    // the shared folder it lies in
    CCoverage cover;       // the bytes that have arrived
    plat::CWriteBack writeBack;  // the write-back of a direct upload's file
    // The upload's own journal record (a directory upload's small entries are recorded in
    // its batch instead).
    CJournalRecord record;

private:
    // Brings the complete file in held to the disk and ends its journal entry. 0, or -1
    // when it could not be flushed.
    int Seal(const plat::CPlatFile& held, CDirUpBatch* pBatch);
    // Removes the file in held while its name still leads to it, closes it, and ends the
    // journal entry.
    void Discard(plat::CPlatFile& held);
};
