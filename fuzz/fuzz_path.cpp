// Any bytes as an STB path: the mapping either refuses it or names a place inside the
// shared folder with no ".." component; the base-folder operations never read out of
// bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fs/path.h"
#include "fs/pathreq.h"
#include "fuzz/fuzz_share.h"
#include "net/sess.h"

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
    std::string strStb(reinterpret_cast<const char*>(pData), nSize);
    strStb.push_back('\0');
    std::string strLocal;
    if (GetLocalPath(strStb.data(), strLocal) == 0) {
        const std::string strPrefix = share.Share() + "/";
        if (strLocal.compare(0, strPrefix.size(), strPrefix) != 0 || HasParentComponent(strLocal) ||
            strLocal.find('\\') != std::string::npos)
            abort();  // a mapped path that leaves the shared folder
        static CSess sess(plat::INVALID_SOCKET);
        SetBaseDir(sess, strLocal);
        if (GetRelativePath(sess, strLocal).size() > strLocal.size())
            abort();
        IsSharedFolderItself(plat::CShare{share.Share()}, strLocal);
    } else if (!strLocal.empty()) {
        abort();  // a refused path must leave no output behind
    }
    return 0;
}
