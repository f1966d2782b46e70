// The entries of a directory upload reach the disk together. A single upload is flushed
// on its own before the reply to its completing block (xfer/pendingupload.h); the
// completed entries of a directory upload are flushed together, at the latest before the
// reply that completes the transaction's last announced entry, and their journal entries
// stay until then.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/flush.h"
#include "xfer/journal.h"

struct CXferCtx;

// The completed entries of one directory upload whose data has not been flushed yet,
// with the journal records that name them. Used by the session's thread.
class CDirUpBatch {
public:
    // A batch is flushed, beside at the transaction's last entry and at the end of the
    // session, once it holds this many entries, this many bytes, or its first entry has
    // waited this long: what an STB that announced more entries than it sends leaves
    // unflushed is bounded. Each flush takes in whatever else waits to be written on the
    // volume, so they are not made more often than that.
    static constexpr uint32_t kMaxEntries = 8192;
    static constexpr uint64_t kMaxBytes = 1ull << 30;
    static constexpr uint64_t kMaxWaitNs = 5000000000ull;

    // Records a new entry in the batch's own record, not flushed: a small entry pays no
    // flush at its start. 0, or -1 when the journal cannot be written.
    int Journal(const CJournalEntry& entry);
    // The entry's file, still held, is complete and written: it joins the batch, and so
    // does its own record if it has one (which then ends with the batch). 0, or -1 when
    // it cannot join (the caller flushes it on its own).
    int Join(const plat::CShare& share, const std::string& strPath, const plat::CPlatFile& held, uint64_t ullSize,
             CJournalRecord& own);
    // Whether the batch holds enough, or has waited long enough, to be flushed now.
    bool Due() const;
    // Flushes the files of the batch, then ends its records (their removal flushed). 0, or
    // -1 when the system reported that some data may not have been written: the records
    // then stay, so that the next start removes those files.
    int Flush();
    bool Empty() const { return m_nEntries == 0 && !m_Record.Active(); }

private:
    plat::CFlushSet m_Files;
    CJournalRecord m_Record;
    std::vector<CJournalRecord> m_Adopted;
    uint32_t m_nEntries = 0;
    uint64_t m_ullBytes = 0;
    uint64_t m_ullFirstNs = 0;
};

// A directory upload begins with ulAnnounced entries announced.
void BeginDirUpBatch(CXferCtx& ctx, uint32_t ulAnnounced);
// One more entry of the directory upload has been requested.
void CountDirUpEntry(CXferCtx& ctx);
// Before the reply that completes a directory-upload entry: flushes the batch when this
// is the transaction's last announced entry (or one beyond it) or when the batch is due.
// 0, or -1 when the flush failed (the reply then takes nothing).
int SettleDirUp(CXferCtx& ctx);
