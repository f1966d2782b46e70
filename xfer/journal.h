// The journal of the files the daemon has begun in a shared folder and not finished (the
// uploads in progress, and the temporary files of copies): after a crash or a power cut
// the next start removes each of them that is still the file it began, so that no upload
// cut off in the middle is left looking complete, and no copy's temporary stays for good. The records are small files in the daemon's state folder, outside
// every shared folder; each holds one or more entries and is held (locked) by the session
// that writes it until it is removed.
#pragma once

#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/share.h"
#include "platform/statefile.h"

// What a file in progress is: an upload under its final name, or a copy's temporary
// beside its destination. Only the line a start prints for it differs.
enum class JournalKind { Upload, Copy };

// One file in progress: where it lies and which file it is (its length: the length it
// has while unfinished, the announced size of an upload, the source's size for a copy).
struct CJournalEntry {
    plat::CShare share;
    std::string strPath;
    plat::FileIdentity id;
    JournalKind eKind = JournalKind::Upload;
};

// The journal's folder (the state folder of platform/statefile.h); empty when none can
// be named. One of the daemon's own paths, which no STB may reach.
std::string JournalFolder();

// One record file of the journal, with the entries added to it. Used by one session.
class CJournalRecord {
public:
    // Adds the entry, creating the record file first when none is open. With bDurable the
    // record is on the disk when this returns (its content and its name flushed). 0, or
    // -1 when the journal cannot be written: the caller goes on without it (the daemon
    // says so once), and a crash may then leave that file as it was.
    int Add(const CJournalEntry& entry, bool bDurable);
    // Brings the entries added so far to the disk (the record's content, and its name
    // once). 0, or -1 when none is open or it cannot be flushed.
    int Commit();
    // Removes the record file with every entry in it. With bDurable its removal is on the
    // disk when this returns: a record that came back after a crash would have the next
    // start remove its finished files. 0, or -1 when it could not be removed.
    int End(bool bDurable);
    // Closes the record file and leaves it with its entries for the next start (their
    // files could not be brought to the disk).
    void Leave() { m_File.Close(); }
    // Whether a record file is open.
    bool Active() const { return m_File.IsOpen(); }

private:
    plat::CStateFile m_File;
    std::string m_strFolder;
    bool m_bNameFlushed = false;  // the record file's name has been flushed in its folder
};

// At start-up, before any session: removes each file that a record names and that is
// still the same file (volume, number and length as recorded; nobody holding it), with
// the line "removed unfinished upload: <path>" (for a copy's temporary "removed
// unfinished copy: <path>"), leaves every other file alone, and then
// removes the records. Only files in the shared folder given are removed, reached as its
// paths are (links out of it followed only with bWideLinks, and only where the upload
// followed them); an upload in another folder is left with a line. Records that another
// running copy of the daemon holds are left.
void CleanUpJournal(const std::string& strSharedFolder, bool bWideLinks);

// The text of one entry as a record holds it, and the entries read back from a record's
// text (as many as are whole; a record cut short by a crash ends early). For tests.
std::string FormatJournalEntry(const CJournalEntry& entry);
std::vector<CJournalEntry> ParseJournalEntries(const std::string& strText);
