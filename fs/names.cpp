#include "fs/names.h"

#include "net/frame.h"
#include "platform/dir.h"
#include "platform/log.h"

namespace {

// Every ASCII byte but 0, which ends a name: a code page passes names only when all of
// them stay what they are both ways.
std::string AsciiBytes()
{
    std::string str;
    for (int c = 1; c < 0x80; ++c)
        str += static_cast<char>(c);
    return str;
}

bool KeepsAscii(plat::CCharsetConv& conv)
{
    const std::string strAscii = AsciiBytes();
    std::string strLocal, strBack;
    return conv.ToLocal(strAscii, strLocal, strAscii.size()) == 0 && strLocal == strAscii &&
           conv.ToCodePage(strAscii, strBack, strAscii.size()) == 0 && strBack == strAscii;
}

}  // namespace

int CheckStbCodePage(const std::string& strCodePage)
{
    plat::CCharsetConv conv;
    return conv.Open(strCodePage) == 0 && KeepsAscii(conv) ? 0 : -1;
}

int CStbNames::Select(const std::string& strCodePage)
{
    if (strCodePage == m_strCodePage)
        return m_bBroken ? -1 : 0;
    m_strCodePage = strCodePage;
    m_bBroken = false;
    m_Conv.Close();
    if (strCodePage.empty())
        return 0;
    if (m_Conv.Open(strCodePage) != 0 || !KeepsAscii(m_Conv)) {
        m_Conv.Close();
        m_bBroken = true;
        plat::Trace("code page not usable: %s\n", strCodePage.c_str());
        return -1;
    }
    return 0;
}

int CStbNames::ToLocal(const char* pszStbPath, std::string& strLocal)
{
    if (!Converts()) {
        strLocal = pszStbPath;
        return 0;
    }
    // A 0 in the result (a code page that can spell one) would cut the path short.
    if (m_bBroken || m_Conv.ToLocal(pszStbPath, strLocal, plat::kMaxPathBytes) != 0 ||
        strLocal.find('\0') != std::string::npos) {
        strLocal.clear();
        return -1;
    }
    return 0;
}

int CStbNames::ToStb(std::string_view local, std::string& strStb)
{
    if (!Converts()) {
        strStb.assign(local);
        return 0;
    }
    if (m_bBroken || m_Conv.ToCodePage(local, strStb, static_cast<size_t>(kMaxPayload)) != 0 ||
        strStb.find('\0') != std::string::npos) {
        strStb.clear();
        return -1;
    }
    return 0;
}

bool CStbNames::Shows(std::string_view local, std::string_view folder, std::string& strStb)
{
    if (ToStb(local, strStb) == 0)
        return true;
    plat::Trace("name not shown: %.*s%.*s\n", static_cast<int>(folder.size()), folder.data(),
                static_cast<int>(local.size()), local.data());
    return false;
}
