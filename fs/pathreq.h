// The checks shared by every request that carries a tag byte and one path.
#pragma once

#include <cstdint>
#include <string>

#include "fs/ownpath.h"
#include "platform/share.h"

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
// The same for a request that uses its path so: a path of the daemon's own files is
// refused as a path out of the shared folder is (fs/ownpath.h).
PathReq TakePathRequest(CSess& sess, CXferCtx& ctx, const char* pszName, std::string& strLocal, OwnUse use);

// The start of a request that opens its path as the session's sized transfer
// (FC_FILE_DN_REQ, FC_FILE_SIZE_REQ): an invalid one is answered at once with
// kStatusInvalid and the recorded 32-bit size. The path goes to ctx.strPath. The caller of
// a valid one then releases what an earlier transfer left (CXferCtx::ReleaseEarlier).
PathReq TakeTransferPathRequest(CSess& sess, CXferCtx& ctx, const char* pszName, uint8_t ucReply);

// True when the local path reaches the shared folder itself ("/", "", "/./", a link that
// leads back up ...), told by the folder it resolves to beneath the share.
bool IsSharedFolderItself(const plat::CShare& share, const std::string& strLocal);
