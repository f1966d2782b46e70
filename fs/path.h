// STB paths onto the shared folder, and the small path and volume operations that the
// command handlers share. An STB path is relative to the shared folder, '/' (or '\')
// separated; a local path is the shared folder, '/', then the STB path with every '\'
// turned into '/'.
#pragma once

#include <cstdint>
#include <string>

#include "platform/share.h"

class CSess;
struct CXferCtx;

// Maps the STB path (the request's own bytes up to their zero) onto the shared folder.
// A leading '\' in the request is rewritten as '/'. Returns 0, or -1 when the path is
// refused: it has a ".." component, or no shared folder is stored. A refused path never
// names anything outside the shared folder; strLocal is then empty.
int GetLocalPath(char* pszStbPath, std::string& strLocal);
// The same onto a shared folder the caller has read.
int GetLocalPathIn(const std::string& strShared, char* pszStbPath, std::string& strLocal);
// Reads the shared folder and the STB's code page together (the command line's code
// page, when it gave one, wins), selects the code page for the context's names and fills
// the context's share with the folder, the session's rule for links and the daemon's own
// files. 0, or -1 (the share left as it was) when no folder is stored or the code page
// cannot be used.
int SelectShare(const CSess& sess, CXferCtx& ctx);
// Selects the share as above, then maps as GetLocalPath: the STB path is first decoded
// from the code page, so that separators and ".." are found in the decoded text and no
// byte of a double-byte character is taken for one. -1 also for a path that does not
// decode (strLocal is then empty).
int MapStbPath(const CSess& sess, CXferCtx& ctx, char* pszStbPath, std::string& strLocal);
// Maps a second path of the same request onto the share and code page that MapStbPath
// selected (a copy's or move's destination).
int MapSecondStbPath(CXferCtx& ctx, char* pszStbPath, std::string& strLocal);

// Turns every '\' of a local path into '/', the local separator.
void BackslashesToSlashes(std::string& strPath);

// The base folder of a directory transaction: the path up to and including its last
// '/', or the empty string when it has none.
void SetBaseDir(CSess& sess, const std::string& strPath);
std::string GetBaseDir(const CSess& sess);
// The path less the length of the base folder; empty when it is not longer than that.
std::string GetRelativePath(const CSess& sess, const std::string& strPath);

// True when the count is strictly below the free bytes of the volume of the share's
// folder; false for a share without a folder.
bool HasFreeSpace(const plat::CShare& share, uint64_t ullBytes);

// True when the local path names an existing folder (through a link only as far as the
// share lets it lead).
bool IsDirectoryPath(const plat::CShare& share, const std::string& strPath);
