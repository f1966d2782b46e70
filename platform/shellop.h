// The shell's copy and move of one file or folder tree, without questions asked.
#pragma once

namespace plat {

enum class FileOpFunc { Move = 1, Copy = 2 };

// The operation handed to a copy/move worker. The paths point into lists owned by the
// caller, which stay unchanged until the worker has ended.
struct CFileOp {
    FileOpFunc wFunc = FileOpFunc::Copy;
    const char* pFrom = nullptr;
    const char* pTo = nullptr;
};

// Copies or moves pFrom. When pTo is an existing folder the item lands inside it;
// otherwise pTo names the copy. Existing files are overwritten (not read-only ones), a
// folder is copied whole with its links kept as links, a move across file systems is a
// copy and then a delete. A folder is never copied or moved into itself or below
// itself. 0 on success, non-zero on any failure.
int ShellFileOperation(const CFileOp& op);

}  // namespace plat
