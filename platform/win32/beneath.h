// Local paths as the wide-character file calls take them, and resolving them beneath the
// shared folder: the handle of what a path reaches is opened first, then its final path
// (GetFinalPathNameByHandleW, every link, junction and mount point resolved) must lie in
// the shared folder's own final path. Private to platform/win32.
#pragma once

#include <cstdint>
#include <string>

#include "platform/share.h"
#include "platform/win32/win.h"

namespace plat {

// Sharing with every other opener: for handles that only look, or that delete.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What the resolving calls answer besides 0.
constexpr int kNotFound = -1;    // missing, unreadable, or not a valid name: GetLastError tells
constexpr int kOutOfShare = -2;  // leads out of the shared folder

// The extended-length form of a local path ("\\?\C:\dir\name", "\\?\UNC\server\share\name"):
// UTF-8 decoded, '/' and '\' both separators, empty and "." components dropped, a relative
// path taken from the working directory. The form reaches names as they are, never a DOS
// device ("CON", "NUL") and without the trailing dots and spaces dropped. False when the
// bytes are not UTF-8 or a component is ".." or holds ':' (a named stream of a file).
bool ToWinPath(const std::string& strPath, std::wstring& wstrOut);

// An extended-length path without its prefix ("C:\dir", "\\server\share\dir"), the form
// the shell calls take.
std::wstring PlainWinPath(const std::wstring& wstrPath);

// The final path of an open handle, in the extended-length form. False when it cannot be had.
bool FinalPathOf(HANDLE h, std::wstring& wstrOut);

// True when wstrPath is wstrRoot or lies below it (both final paths), case ignored as the
// file system ignores it.
bool IsBelow(const std::wstring& wstrRoot, const std::wstring& wstrPath);

// The shared folder's final path. 0, or kNotFound.
int ShareFinalPath(const CShare& share, std::wstring& wstrOut);

// Opens the path (CreateFileW's access, sharing, disposition and flags; a folder needs
// FILE_FLAG_BACKUP_SEMANTICS), following links; unless the share allows wide links, a
// handle whose final path lies outside the shared folder is closed again. 0 with hOut
// set, kOutOfShare, or kNotFound.
int OpenBeneath(const CShare& share, const std::string& strPath, DWORD dwAccess, DWORD dwShare,
                DWORD dwDisposition, DWORD dwFlags, CHandle& hOut);

// The path with the folder that holds its last component resolved beneath the share (its
// final path) and the last component as it is: the form to act on a name itself, not
// where it leads (with FILE_FLAG_OPEN_REPARSE_POINT). The shared folder itself gives its
// final path. 0, kOutOfShare, or kNotFound.
int ResolveParent(const CShare& share, const std::string& strPath, std::wstring& wstrOut);

// Opens the folder that holds the path's last component, resolved beneath the share as
// ResolveParent resolves it (the shared folder itself for a name directly in it). A last
// component "." is held by the folder named before it ("dir/." by dir), so that a caller
// who adds "/." has that folder itself checked, as on Linux. 0 with hOut set,
// kOutOfShare, or kNotFound.
int OpenParentBeneath(const CShare& share, const std::string& strPath, CHandle& hOut);

// True when the path names the shared folder itself ("share", "share/", "share/./"):
// told from its components alone.
bool NamesShareItself(const CShare& share, const std::string& strPath);

// The attributes and reparse tag of an open handle; false when they cannot be read.
struct HandleInfo {
    DWORD dwAttributes = 0;
    DWORD dwReparseTag = 0;
    uint64_t ullSize = 0;
    DWORD dwVolume = 0;
    uint64_t ullFileIndex = 0;
    bool IsDir() const { return (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    // A symbolic link, junction or mount point: a name that stands for another.
    bool IsLink() const
    {
        return (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(dwReparseTag);
    }
    bool IsReadOnly() const { return (dwAttributes & FILE_ATTRIBUTE_READONLY) != 0; }
};
bool GetHandleInfo(HANDLE h, HandleInfo& info);

// Opens a name itself, not where it leads (FILE_FLAG_OPEN_REPARSE_POINT), given as
// ResolveParent gives it. Files and folders alike; never a device. bItself tells whether
// the handle's final path is the name's own: Wine follows the links of the host's file
// system whatever the flags say, and a handle that reached something else must never be
// deleted in the name's place. 0, or kNotFound.
int OpenNameItself(const std::wstring& wstrPath, DWORD dwAccess, DWORD dwShare, CHandle& hOut, bool& bItself);

// True when two final paths name the same place (case ignored as the file system ignores it).
bool SamePath(const std::wstring& a, const std::wstring& b);

}  // namespace plat
