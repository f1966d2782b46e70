// The daemon's own files (app/ownfiles.h) against the paths STBs send: the requests that
// create, remove, move or rename refuse them as they refuse a path out of the shared
// folder. What resolves to an own file is refused by the platform layer as well, in every
// opening, deletion and move (platform/ownfiles.h).
#pragma once

#include <string>

#include "platform/share.h"

class CSess;
struct CXferCtx;

enum class OwnUse {
    // Opened, made or deleted as itself (a file, or a folder made under that name): the own
    // files are refused; the folders on the way to them may be made and used.
    Open,
    // Removed, moved or renamed, or the place a copy or move lands: the own files and the
    // folders on the way to them are refused.
    Change,
};

// True when a request may not use the local path (mapped onto the share) that way. Told by
// the names below the shared folder, compared with each own file's place there (where its
// path reads and where it really lies, so that a folder on the way that a local user moved
// away and an STB makes anew is known too), and by what the path resolves to.
bool IsDaemonOwnPath(const plat::CShare& share, const std::string& strLocal, OwnUse use);

// MapStbPath for a request that uses the path that way: an own path is refused as a path
// out of the shared folder is (-1, strLocal empty, the context's share as it was).
int MapStbPathFor(const CSess& sess, CXferCtx& ctx, char* pszStbPath, std::string& strLocal, OwnUse use);

// True when a copy (bMove: a move) of the context's strPath to strPath2 would touch an own
// path: a move changes its source, a copy opens it; either changes the place where it
// lands, inside the destination when that is an existing folder.
bool IsOwnCopyMove(const CXferCtx& ctx, bool bMove);
