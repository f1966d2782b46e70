#include "platform/charset.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <new>

namespace plat {

namespace {

const iconv_t kNoConv = reinterpret_cast<iconv_t>(-1);

// Runs one call of the conversion, growing the output up to nMaxOut while it is short.
// A null ppIn flushes the shift state. False on any failure.
bool Step(iconv_t cd, char** ppIn, size_t* pnInLeft, std::string& strOut, size_t& nDone, size_t nMaxOut)
{
    for (;;) {
        char* pOut = strOut.data() + nDone;
        size_t nOutLeft = strOut.size() - nDone;
        const size_t rc = iconv(cd, ppIn, pnInLeft, &pOut, &nOutLeft);
        const int nErr = errno;
        nDone = static_cast<size_t>(pOut - strOut.data());
        if (rc != static_cast<size_t>(-1))
            return rc == 0;  // a character converted only approximately counts as a failure
        if (nErr != E2BIG || strOut.size() >= nMaxOut)
            return false;  // EILSEQ, EINVAL (cut inside a character), or longer than allowed
        strOut.resize(std::min(nMaxOut, strOut.size() * 2 + 16));
    }
}

// The whole input through the conversion, from its initial shift state.
int Convert(iconv_t cd, std::string_view in, std::string& strOut, size_t nMaxOut)
{
    strOut.clear();
    if (cd == kNoConv)
        return -1;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    strOut.resize(std::min(nMaxOut, in.size() + in.size() / 2 + 16));
    char* pIn = const_cast<char*>(in.data());  // iconv's own signature; the input is not written
    size_t nInLeft = in.size();
    size_t nDone = 0;
    bool bOk = true;
    while (bOk && nInLeft > 0)
        bOk = Step(cd, &pIn, &nInLeft, strOut, nDone, nMaxOut);
    if (bOk)
        bOk = Step(cd, nullptr, nullptr, strOut, nDone, nMaxOut);
    if (!bOk) {
        strOut.clear();
        return -1;
    }
    strOut.resize(nDone);
    return 0;
}

}  // namespace

struct CCharsetConv::CImpl {
    iconv_t hToLocal = kNoConv;
    iconv_t hToCodePage = kNoConv;

    ~CImpl()
    {
        if (hToLocal != kNoConv)
            iconv_close(hToLocal);
        if (hToCodePage != kNoConv)
            iconv_close(hToCodePage);
    }
};

CCharsetConv::CCharsetConv() = default;

CCharsetConv::~CCharsetConv() = default;

int CCharsetConv::Open(const std::string& strCodePage)
{
    Close();
    // The name alone: iconv's suffixes (//TRANSLIT, //IGNORE) would turn a character
    // without a form into another one, or drop it, and a name sent back would then lead
    // elsewhere.
    if (strCodePage.empty() || strCodePage.find('/') != std::string::npos)
        return -1;
    std::unique_ptr<CImpl> pImpl(new (std::nothrow) CImpl);
    if (pImpl == nullptr)
        return -1;
    pImpl->hToLocal = iconv_open("UTF-8", strCodePage.c_str());
    pImpl->hToCodePage = iconv_open(strCodePage.c_str(), "UTF-8");
    if (pImpl->hToLocal == kNoConv || pImpl->hToCodePage == kNoConv)
        return -1;
    m_pImpl = std::move(pImpl);
    return 0;
}

void CCharsetConv::Close() { m_pImpl.reset(); }

bool CCharsetConv::IsOpen() const { return m_pImpl != nullptr; }

int CCharsetConv::ToLocal(std::string_view in, std::string& strOut, size_t nMaxOut)
{
    return Convert(m_pImpl ? m_pImpl->hToLocal : kNoConv, in, strOut, nMaxOut);
}

int CCharsetConv::ToCodePage(std::string_view in, std::string& strOut, size_t nMaxOut)
{
    return Convert(m_pImpl ? m_pImpl->hToCodePage : kNoConv, in, strOut, nMaxOut);
}

}  // namespace plat
