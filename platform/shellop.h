// The shell's copy and move of one file or folder tree, without questions asked.
#pragma once

#include "platform/share.h"

namespace plat {

enum class FileOpFunc { Move = 1, Copy = 2 };

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
};

// Copies or moves pFrom. When pTo is an existing folder the item lands inside it;
// otherwise pTo names the copy. Existing files are overwritten (not read-only ones), a
// folder is copied whole with its links kept as links, a move across file systems is a
// copy and then a delete. A folder is never copied or moved into itself or below
// itself. Both paths resolve beneath the share; nothing is written outside it. A copy
// whose files need more bytes than the destination's volume has free fails before it
// writes anything. 0 on success, non-zero on any failure.
int ShellFileOperation(const CFileOp& op);

}  // namespace plat
