#include "xfer/upseal.h"

#include <utility>

#include "net/xferctx.h"
#include "platform/thread.h"

int CDirUpBatch::Journal(const CJournalEntry& entry) { return m_Record.Add(entry, false); }

int CDirUpBatch::Join(const plat::CShare& share, const std::string& strPath, const plat::CPlatFile& held,
                      uint64_t ullSize, CJournalRecord& own)
{
    if (m_Files.Add(share, strPath, held) != 0)
        return -1;
    if (own.Active())
        m_Adopted.push_back(std::move(own));
    if (m_nEntries == 0)
        m_ullFirstNs = plat::MonotonicNs();
    ++m_nEntries;
    m_ullBytes += ullSize;
    return 0;
}

bool CDirUpBatch::Due() const
{
    return m_nEntries >= kMaxEntries || m_ullBytes >= kMaxBytes ||
           (m_nEntries > 0 && plat::MonotonicNs() - m_ullFirstNs >= kMaxWaitNs);
}

int CDirUpBatch::Flush()
{
    const int rc = m_Files.Flush();
    m_nEntries = 0;
    m_ullBytes = 0;
    if (rc != 0) {
        m_Record.Leave();
        for (CJournalRecord& record : m_Adopted)
            record.Leave();
        m_Adopted.clear();
        return -1;
    }
    // The data is on the disk: the records go, their removal flushed once for all.
    m_Record.End(false);
    for (CJournalRecord& record : m_Adopted)
        record.End(false);
    m_Adopted.clear();
    const std::string strFolder = JournalFolder();
    if (!strFolder.empty())
        plat::FlushFolder(strFolder);
    return 0;
}

void BeginDirUpBatch(CXferCtx& ctx, uint32_t ulAnnounced)
{
    ctx.bDirUp = true;
    ctx.ulDirAnnounced = ulAnnounced;
    ctx.ulDirSeen = 0;
}

void CountDirUpEntry(CXferCtx& ctx)
{
    if (ctx.ulDirSeen != UINT32_MAX)
        ++ctx.ulDirSeen;
}

int SettleDirUp(CXferCtx& ctx)
{
    if (ctx.dirBatch.Empty())
        return 0;
    const bool bLast = ctx.ulDirSeen >= ctx.ulDirAnnounced;
    return bLast || ctx.dirBatch.Due() ? ctx.dirBatch.Flush() : 0;
}
