// The checks shared by every request that carries a tag byte and one path.
#pragma once

#include <string>

class CSess;
struct CXferCtx;

enum class PathReq {
    Ok,       // the path is mapped into the output
    Invalid,  // fewer than 3 payload bytes, or the last one is not 0
    Refused,  // the path would leave the shared folder, or none is stored
};

// Checks the request in the session's packet (payload: tag byte, then the path ending
// with the last payload byte). An invalid one prints "invalid param in <name>\n".
// Otherwise maps the path into strLocal (and the context's share) and prints
// "(tag) local path".
PathReq TakePathRequest(CSess& sess, CXferCtx& ctx, const char* pszName, std::string& strLocal);

// True when the local path names the shared folder itself ("/", "", "/./", ...).
bool IsSharedFolderItself(const std::string& strLocal);
