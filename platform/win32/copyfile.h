// The copy of ShellFileOperation on Windows: each file written whole into a hidden
// temporary in its destination's folder, flushed (FlushFileBuffers), and then moved into
// place (MoveFileExW, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), so that a
// crash leaves the old destination or the new one. Share modes as the transfer commands
// open their files: a source is read sharing only reading (an upload that writes it
// refuses that), and a file is replaced only when no one else has it open. Private to
// platform/win32.
#pragma once

#include <string>

#include "platform/shellop.h"
#include "platform/win32/beneath.h"

namespace plat {

// True when no other opener holds the file: with bExclusive, no one has it open at all
// (what a move or a replacement needs); otherwise no one writes it (what a copy reads).
// Only tried: nothing stays open. A name that cannot be opened at all counts as free.
bool FileIsFree(const std::wstring& wstrPath, bool bExclusive);
// The same for every file of a folder tree (links not followed). True when all are.
bool TreeIsFree(const std::wstring& wstrFolder, bool bExclusive);

// Copies the item at wstrSrc (a file, or a folder with everything below it, checked by the
// caller for links and room) to wstrDst, whose local path beneath the share is strDst
// (for the journal of temporaries). An existing folder receives the copy; existing files
// are replaced unless they are read-only or in use. Goes on after a failure; 0 when all
// was copied.
int CopyItemThrough(const std::wstring& wstrSrc, const std::wstring& wstrDst, const std::string& strDst,
                    CCopyJournal* pJournal);

}  // namespace plat
