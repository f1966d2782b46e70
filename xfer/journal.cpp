#include "xfer/journal.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/flush.h"
#include "platform/log.h"
#include "platform/process.h"

namespace {

constexpr char kSuffix[] = ".unfinished";
constexpr char kHeader[] = "corvane unfinished 1\n";
constexpr size_t kMaxRecordBytes = 64u << 20;

std::atomic<bool> g_bSaidNoJournal{false};
std::atomic<unsigned> g_nNextRecord{0};

// Says once per run that the journal cannot be kept.
void SayNoJournal(const std::string& strFolder)
{
    if (!g_bSaidNoJournal.exchange(true))
        plat::Trace("no journal of unfinished uploads in %s: a crash leaves an upload or a copy in progress as it was\n",
                    strFolder.empty() ? "(no state folder)" : strFolder.c_str());
}

bool EndsWith(const std::string& s, const char* pszEnd)
{
    const std::string strEnd(pszEnd);
    return s.size() > strEnd.size() && s.compare(s.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
}

// Reads one unsigned decimal number at pos and the one byte after it, which must be
// cEnd. False when there is none.
bool TakeNumber(const std::string& s, size_t& pos, char cEnd, uint64_t& ullOut)
{
    ullOut = 0;
    const size_t nStart = pos;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        const uint64_t ullDigit = static_cast<uint64_t>(s[pos] - '0');
        if (ullOut > (UINT64_MAX - ullDigit) / 10)
            return false;
        ullOut = ullOut * 10 + ullDigit;
        ++pos;
    }
    if (pos == nStart || pos >= s.size() || s[pos] != cEnd)
        return false;
    ++pos;
    return true;
}

// The word that opens an entry and names its kind in the lines of a start.
const char* KindWord(JournalKind eKind) { return eKind == JournalKind::Copy ? "copy" : "file"; }
const char* KindLine(JournalKind eKind) { return eKind == JournalKind::Copy ? "copy" : "upload"; }

}  // namespace

std::string JournalFolder() { return plat::GetStateFolder(); }

std::string FormatJournalEntry(const CJournalEntry& entry)
{
    // "file VOLUME INDEX SIZE WIDE ROOTLEN PATHLEN\n" ("copy ..." for a copy's temporary)
    // then the root and the path as they are (any byte but 0) and "\n".
    char szHead[160];
    snprintf(szHead, sizeof(szHead), "%s %" PRIu64 " %" PRIu64 " %" PRIu64 " %d %zu %zu\n", KindWord(entry.eKind),
             entry.id.ullVolume, entry.id.ullIndex, entry.id.ullSize, entry.share.bWideLinks ? 1 : 0, entry.share.strRoot.size(),
             entry.strPath.size());
    return szHead + entry.share.strRoot + entry.strPath + "\n";
}

std::vector<CJournalEntry> ParseJournalEntries(const std::string& strText)
{
    std::vector<CJournalEntry> entries;
    const std::string strHeader(kHeader);
    if (strText.compare(0, strHeader.size(), strHeader) != 0)
        return entries;
    size_t pos = strHeader.size();
    for (;;) {
        CJournalEntry entry;
        if (strText.compare(pos, 5, "file ") == 0)
            entry.eKind = JournalKind::Upload;
        else if (strText.compare(pos, 5, "copy ") == 0)
            entry.eKind = JournalKind::Copy;
        else
            break;
        pos += 5;
        uint64_t ullWide = 0, ullRoot = 0, ullPath = 0;
        if (!TakeNumber(strText, pos, ' ', entry.id.ullVolume) || !TakeNumber(strText, pos, ' ', entry.id.ullIndex) ||
            !TakeNumber(strText, pos, ' ', entry.id.ullSize) || !TakeNumber(strText, pos, ' ', ullWide) ||
            !TakeNumber(strText, pos, ' ', ullRoot) || !TakeNumber(strText, pos, '\n', ullPath) || ullWide > 1 ||
            ullRoot > strText.size() - pos || ullPath > strText.size() - pos - ullRoot ||
            ullRoot + ullPath >= strText.size() - pos || strText[pos + ullRoot + ullPath] != '\n')
            break;
        entry.share.bWideLinks = ullWide == 1;
        entry.share.strRoot = strText.substr(pos, ullRoot);
        entry.strPath = strText.substr(pos + ullRoot, ullPath);
        pos += ullRoot + ullPath + 1;
        if (entry.share.strRoot.empty() || entry.strPath.empty())
            break;
        entries.push_back(std::move(entry));
    }
    return entries;
}

int CJournalRecord::Add(const CJournalEntry& entry, bool bDurable)
{
    std::string strText = FormatJournalEntry(entry);
    if (!m_File.IsOpen()) {
        m_strFolder = JournalFolder();
        m_bNameFlushed = false;
        bool bCreated = false;
        if (!m_strFolder.empty() && plat::MakeStateFolder(m_strFolder) == 0) {
            // Named by the process and a count: a name left by an earlier run of the same
            // process number is passed over.
            const std::string strStem = std::to_string(plat::CurrentProcessId()) + "-";
            for (int nTry = 0; nTry < 100 && !bCreated; ++nTry)
                bCreated = m_File.Create(m_strFolder, strStem + std::to_string(g_nNextRecord.fetch_add(1)) + kSuffix) == 0;
        }
        if (!bCreated) {
            SayNoJournal(m_strFolder);
            return -1;
        }
        strText = kHeader + strText;
    }
    if (m_File.Append(strText) != 0) {
        SayNoJournal(m_strFolder);
        return -1;
    }
    return bDurable ? Commit() : 0;
}

int CJournalRecord::Commit()
{
    if (!m_File.IsOpen() || m_File.Flush() != 0)
        return -1;
    if (!m_bNameFlushed && plat::FlushFolder(m_strFolder) != 0)
        return -1;
    m_bNameFlushed = true;
    return 0;
}

int CJournalRecord::End(bool bDurable)
{
    if (!m_File.IsOpen())
        return 0;
    int rc = m_File.Remove();
    if (rc == 0 && bDurable)
        rc = plat::FlushFolder(m_strFolder);
    return rc;
}

void CleanUpJournal(const std::string& strSharedFolder, bool bWideLinks)
{
    const std::string strFolder = JournalFolder();
    std::vector<std::string> names;
    if (strFolder.empty() || plat::MakeStateFolder(strFolder) != 0 || plat::ListStateFiles(strFolder, names) != 0) {
        SayNoJournal(strFolder);
        return;
    }
    bool bRemovedRecord = false;
    for (const std::string& strName : names) {
        if (!EndsWith(strName, kSuffix))
            continue;
        plat::CStateFile record;
        std::string strText;
        if (record.Take(strFolder, strName, strText, kMaxRecordBytes) != 0)
            continue;  // held by a running copy, or unreadable: left as it is
        bool bKeep = false;
        for (CJournalEntry& entry : ParseJournalEntries(strText)) {
            // A record acts only within the shared folder of this start, by its rule for
            // links: whatever a record says, nothing else is ever deleted.
            if (entry.share.strRoot != strSharedFolder) {
                plat::Trace("unfinished %s left in another shared folder: %s\n", KindLine(entry.eKind),
                            entry.strPath.c_str());
                continue;
            }
            entry.share.bWideLinks = entry.share.bWideLinks && bWideLinks;
            const int rc = plat::RemoveIfSameFile(entry.share, entry.strPath, entry.id);
            if (rc < 0) {
                bKeep = true;  // held by someone, or not removable now: tried again next time
            } else if (rc == 1) {
                plat::Trace("removed unfinished %s: %s\n", KindLine(entry.eKind), entry.strPath.c_str());
                // Gone for good before its record goes.
                plat::FlushParentFolder(entry.share, entry.strPath);
            }
        }
        if (!bKeep && record.Remove() == 0)
            bRemovedRecord = true;
    }
    if (bRemovedRecord)
        plat::FlushFolder(strFolder);
}
