#include "platform/charset.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <new>

#include "platform/win32/win.h"

namespace plat {

namespace {

struct CNamedPage {
    const char* pszName;
    UINT uCodePage;
};

// Names as the other platform's converter knows them, for the pages Windows has.
const CNamedPage kNamedPages[] = {
    {"UTF-8", CP_UTF8},        {"UTF8", CP_UTF8},         {"ISO-8859-1", 28591},   {"LATIN1", 28591},
    {"ISO-8859-2", 28592},     {"ISO-8859-5", 28595},     {"ISO-8859-7", 28597},   {"ISO-8859-9", 28599},
    {"ISO-8859-15", 28605},    {"GBK", 936},              {"GB2312", 936},         {"GB18030", 54936},
    {"BIG5", 950},             {"BIG-5", 950},            {"SHIFT_JIS", 932},      {"SJIS", 932},
    {"EUC-KR", 51949},         {"UHC", 949},              {"EUC-JP", 20932},       {"KOI8-R", 20866},
    {"KOI8-U", 21866},         {"US-ASCII", 20127},       {"ASCII", 20127},
};

std::string Upper(const std::string& str)
{
    std::string s = str;
    for (char& c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

// "CP1252", "WINDOWS-1252", "1252" and the names above; 0 when none fits.
UINT CodePageOf(const std::string& strName)
{
    const std::string s = Upper(strName);
    for (const CNamedPage& page : kNamedPages) {
        if (s == page.pszName)
            return page.uCodePage;
    }
    size_t nDigits = 0;
    if (s.compare(0, 2, "CP") == 0)
        nDigits = 2;
    else if (s.compare(0, 8, "WINDOWS-") == 0)
        nDigits = 8;
    if (nDigits == s.size())
        return 0;
    for (size_t i = nDigits; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            return 0;
    }
    const unsigned long ul = strtoul(s.c_str() + nDigits, nullptr, 10);
    return ul > 0 && ul < 65536 ? static_cast<UINT>(ul) : 0;
}

// The pages with shift states: ISO-2022 (50220..50229: escape sequences switch between
// character sets), HZ (52936: "~{" and "~}") and UTF-7. A name in one of them would
// reach the STB with switching bytes in it, and what its bytes mean would depend on those
// before them: never opened.
bool HasShiftStates(UINT uPage) { return (uPage >= 50220 && uPage <= 50229) || uPage == 52936 || uPage == CP_UTF7; }

// Code page to UTF-16 and back: MB_ERR_INVALID_CHARS and WC_NO_BEST_FIT_CHARS where the
// page takes them (the stateful and UTF-7 pages do not).
bool TakesFlags(UINT uPage)
{
    return !(uPage == CP_UTF7 || (uPage >= 50220 && uPage <= 50229) || uPage == 52936 || uPage == 54936 ||
             (uPage >= 57002 && uPage <= 57011) || uPage == 42);
}

bool ToWide(UINT uPage, std::string_view in, std::wstring& wstrOut)
{
    wstrOut.clear();
    if (in.empty())
        return true;
    if (in.size() > static_cast<size_t>(INT_MAX))
        return false;
    const DWORD dwFlags = TakesFlags(uPage) ? MB_ERR_INVALID_CHARS : 0;
    const int nIn = static_cast<int>(in.size());
    const int n = MultiByteToWideChar(uPage, dwFlags, in.data(), nIn, nullptr, 0);
    if (n <= 0)
        return false;
    wstrOut.resize(static_cast<size_t>(n));
    return MultiByteToWideChar(uPage, dwFlags, in.data(), nIn, wstrOut.data(), n) == n;
}

bool FromWide(UINT uPage, std::wstring_view wstr, std::string& strOut)
{
    strOut.clear();
    if (wstr.empty())
        return true;
    if (wstr.size() > static_cast<size_t>(INT_MAX))
        return false;
    const bool bFlags = TakesFlags(uPage) && uPage != CP_UTF8;
    const DWORD dwFlags = bFlags ? WC_NO_BEST_FIT_CHARS : (uPage == CP_UTF8 ? WC_ERR_INVALID_CHARS : 0);
    BOOL bDefaultUsed = FALSE;
    const int nIn = static_cast<int>(wstr.size());
    const int n = WideCharToMultiByte(uPage, dwFlags, wstr.data(), nIn, nullptr, 0, nullptr,
                                      bFlags ? &bDefaultUsed : nullptr);
    if (n <= 0 || bDefaultUsed)
        return false;
    strOut.resize(static_cast<size_t>(n));
    return WideCharToMultiByte(uPage, dwFlags, wstr.data(), nIn, strOut.data(), n, nullptr,
                               bFlags ? &bDefaultUsed : nullptr) == n &&
           !bDefaultUsed;
}

// From one encoding to the other through UTF-16; the result must come back to the input
// exactly, so that a name sent one way leads to the same file the other way.
int Convert(UINT uFrom, UINT uTo, std::string_view in, std::string& strOut, size_t nMaxOut)
{
    strOut.clear();
    std::wstring wstr, wstrBack;
    std::string strBack;
    if (!ToWide(uFrom, in, wstr) || !FromWide(uTo, wstr, strOut) || strOut.size() > nMaxOut ||
        !ToWide(uTo, strOut, wstrBack) || wstrBack != wstr || !FromWide(uFrom, wstrBack, strBack) || strBack != in) {
        strOut.clear();
        return -1;
    }
    return 0;
}

}  // namespace

struct CCharsetConv::CImpl {
    UINT uCodePage = 0;
};

CCharsetConv::CCharsetConv() = default;

CCharsetConv::~CCharsetConv() = default;

int CCharsetConv::Open(const std::string& strCodePage)
{
    Close();
    const UINT uPage = CodePageOf(strCodePage);
    if (uPage == 0 || HasShiftStates(uPage) || !IsValidCodePage(uPage))
        return -1;
    std::unique_ptr<CImpl> pImpl(new (std::nothrow) CImpl);
    if (pImpl == nullptr)
        return -1;
    pImpl->uCodePage = uPage;
    m_pImpl = std::move(pImpl);
    return 0;
}

void CCharsetConv::Close() { m_pImpl.reset(); }

bool CCharsetConv::IsOpen() const { return m_pImpl != nullptr; }

int CCharsetConv::ToLocal(std::string_view in, std::string& strOut, size_t nMaxOut)
{
    if (!m_pImpl) {
        strOut.clear();
        return -1;
    }
    return Convert(m_pImpl->uCodePage, CP_UTF8, in, strOut, nMaxOut);
}

int CCharsetConv::ToCodePage(std::string_view in, std::string& strOut, size_t nMaxOut)
{
    if (!m_pImpl) {
        strOut.clear();
        return -1;
    }
    return Convert(CP_UTF8, m_pImpl->uCodePage, in, strOut, nMaxOut);
}

}  // namespace plat
