// The shell's copy and move of one file or folder tree, without questions asked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "platform/share.h"

namespace plat {

enum class FileOpFunc { Move = 1, Copy = 2 };

// Where a copy notes the temporary files it makes beside its destinations, so that the
// next start removes any that a crash left (the daemon's journal, behind this interface).
// Called on the worker's thread only.
class CCopyJournal {
public:
    virtual ~CCopyJournal() = default;
    // Notes the temporary at the local path (beneath the operation's share) as the file of
    // that identity, its length the one it keeps until it is renamed into place.
    virtual void Note(const std::string& strPath, const FileIdentity& id) = 0;
    // Brings every note made so far to the disk; the temporaries noted may be named from
    // then on. 0, or -1 when that cannot be done (the copy goes on without it).
    virtual int Commit() = 0;
    // Every temporary noted is in its place or removed: the notes may go.
    virtual void Clear() = 0;
};

// How far a copy has come, told by the worker's thread as it writes: the bytes of every
// file it takes, once they are known, then the bytes as they are written.
class CCopyProgress {
public:
    virtual ~CCopyProgress() = default;
    virtual void Total(uint64_t ullBytes) = 0;
    virtual void Copied(uint64_t ullBytes) = 0;
};

// The operation handed to a copy/move worker. The paths point into lists owned by the
// caller, which stay unchanged until the worker has ended.
struct CFileOp {
    FileOpFunc wFunc = FileOpFunc::Copy;
    const char* pFrom = nullptr;
    const char* pTo = nullptr;
    CShare share;  // both paths resolve beneath it
    // Someone is at the desktop (the dialog runs): where the system's file operation has a
    // progress window, it may show it. Otherwise it shows nothing.
    bool bInteractive = false;
    // Where the copy's temporaries are noted; none: nowhere.
    CCopyJournal* pJournal = nullptr;
    // Told how far the copy has come; none: nobody. (A move by rename copies nothing.)
    CCopyProgress* pProgress = nullptr;
};

// Copies or moves pFrom. When pTo is an existing folder the item lands inside it;
// otherwise pTo names the copy. Existing files are overwritten (not read-only ones), a
// folder is copied whole with its links kept as links, a move across file systems is a
// copy and then a delete. A folder is never copied or moved into itself or below
// itself. Both paths resolve beneath the share; nothing is written outside it. A copy
// whose files need more bytes than the destination's volume has free fails before it
// writes anything.
//
// No copied file is written under its destination's name: each is written whole into a
// temporary in the destination's folder, which listings never show (an unnamed file, or
// a name IsCopyTemporaryName tells), flushed, and then renamed into place, so that a
// crash leaves the old destination or the new one, never a mix. When this returns 0,
// every copied file and every folder entry made or changed is on the disk, and a move
// across volumes removed its source only once its copy was.
//
// The openings of the transfer commands count as share modes: a file held by a download
// may be copied, not moved nor overwritten; a file held by an upload may be neither
// copied, moved nor overwritten. Such an operation fails before it changes anything, as
// does a folder move that would take such a file with it.
//
// 0 on success, non-zero on any failure.
int ShellFileOperation(const CFileOp& op);

// True when a folder entry of that name is a copy's temporary: listings and walks leave
// it out.
bool IsCopyTemporaryName(std::string_view name);
// A new name of that kind, different at each call.
std::string NewCopyTemporaryName();

// Test hook: a copy calls it, when set, after each stretch of a file's data written to its
// temporary (ullWritten: the bytes written so far; once more with the whole size at the
// end) and when a temporary has been given its name, before the rename into place. Set
// it only while no copy runs.
enum class CopyStep { Written, Named };
using CopyHook = void (*)(CopyStep eStep, uint64_t ullWritten);
void SetCopyHook(CopyHook pfnHook);

}  // namespace plat
