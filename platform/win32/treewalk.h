// Deleting names and whole trees by handles that are checked to be the names themselves:
// every handle is opened on a name itself (FILE_FLAG_OPEN_REPARSE_POINT) and kept only
// when its final path is the path it was opened by, so a link, junction or mount point
// on the way (or one the system followed anyway, as Wine does with the host's links) is
// never deleted through. Private to platform/win32.
#pragma once

#include <string>

#include "platform/tree.h"
#include "platform/win32/beneath.h"

namespace plat {

// Marks the open file or folder for deletion (it goes when the last handle closes; a
// folder that holds anything is refused). False on failure, with GetLastError set.
bool MarkForDeletion(HANDLE h);

// Deletes the name itself: a link (never where it leads), or a file. With bKeepRules by
// the rules of DeleteFile (never a read-only file, nor one another opener holds);
// without, a read-only file goes too. Never a folder. 0, or the negated system error.
int DeleteNameItself(const std::wstring& wstrPath, bool bKeepRules);

// The shared folder's own attributes and identity (volume serial and file index).
bool ShareRootInfo(const CShare& share, HandleInfo& info);
inline bool SameFile(const HandleInfo& a, const HandleInfo& b)
{
    return a.dwVolume == b.dwVolume && a.ullFileIndex == b.ullFileIndex;
}

// Removes the folder wstrTop (a final path, checked by the caller to be a folder itself)
// and everything below it, depth first from a list. Links are removed themselves; a
// folder that is the shared folder (root) is never entered; one that still holds
// something stays. bKeepRules as for DeleteNameItself; eWalk names the walk to the test
// hook. 0 when everything is gone.
int RemoveTreeAt(const std::wstring& wstrTop, TreeWalk eWalk, bool bKeepRules, const HandleInfo& root);

}  // namespace plat
