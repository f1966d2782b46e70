// Any bytes as the payload of a path request (tag byte, STB path), mapped as every
// handler maps one (TakePathRequest: the code page's decoding, then the mapping onto the
// shared folder): the request is refused, or the path names a place inside the shared
// folder with no ".." component; the base-folder operations never read out of bounds.
// The input's first byte sets the session's options (CFuzzShare::Apply), so that every
// code page's decoding is reached.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fs/path.h"
#include "fs/pathreq.h"
#include "fuzz/fuzz_share.h"
#include "net/protocol.h"
#include "net/sess.h"
#include "net/xferctx.h"

namespace {

bool HasParentComponent(const std::string& str)
{
    size_t nStart = 0;
    for (size_t i = 0; i <= str.size(); ++i) {
        if (i == str.size() || str[i] == '/') {
            if (i - nStart == 2 && str.compare(nStart, 2, "..") == 0)
                return true;
            nStart = i + 1;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static CFuzzShare share;
    static CSess sess(plat::INVALID_SOCKET);
    static CXferCtx ctx;
    if (nSize == 0 || nSize > static_cast<size_t>(kMaxPayload))
        return 0;
    share.Apply(pData[0], sess);
    // The request as it arrives: the payload, its last byte the path's terminating 0.
    std::string strPayload(reinterpret_cast<const char*>(pData + 1), nSize - 1);
    strPayload.push_back('\0');
    BuildReply(sess.m_Packet, FC_DIR_REQ, reinterpret_cast<const uint8_t*>(strPayload.data()),
               static_cast<int>(strPayload.size()));
    std::string strLocal;
    const PathReq eReq = TakePathRequest(sess, ctx, "FC_DIR_REQ", strLocal);
    if (eReq == PathReq::Ok) {
        const std::string strPrefix = share.Share() + "/";
        if (strLocal.compare(0, strPrefix.size(), strPrefix) != 0 || HasParentComponent(strLocal) ||
            strLocal.find('\\') != std::string::npos || strLocal.find('\0') != std::string::npos)
            abort();  // a mapped path that leaves the shared folder
        SetBaseDir(sess, strLocal);
        if (GetRelativePath(sess, strLocal).size() > strLocal.size())
            abort();
        IsSharedFolderItself(plat::CShare{share.Share()}, strLocal);
    } else if (!strLocal.empty()) {
        abort();  // a refused path must leave no output behind
    }
    return 0;
}
