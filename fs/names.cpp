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

// Characters of many scripts (Latin, Greek, Cyrillic, Hebrew, Arabic, Thai, kana, Han,
// Hangul, symbols, half-width kana): whichever of them a code page holds show how it
// encodes a character next to another.
const char* const kProbeChars[] = {
    "\xC3\xA9",      "\xC3\x9F",     "\xC4\x85",     "\xC4\x9F",     "\xCE\xA9",     "\xD0\x96",
    "\xD7\xA9",      "\xD8\xB9",     "\xE0\xB8\x81", "\xE3\x81\x82", "\xE3\x82\xA2", "\xEF\xBD\xB1",
    "\xE6\xBC\xA2",  "\xE4\xB8\xAD", "\xED\x95\x9C", "\xEA\xB8\x80", "\xE2\x82\xAC", "\xC2\xA5",
};
constexpr size_t kMaxProbes = 12;

// The encoding of a name that the code page holds exactly; empty when it holds none.
std::string Encoded(plat::CCharsetConv& conv, std::string_view local)
{
    std::string strStb, strBack;
    if (conv.ToCodePage(local, strStb, 64) != 0 || conv.ToLocal(strStb, strBack, 64) != 0 || strBack != local)
        strStb.clear();
    return strStb;
}

// True when every character the code page holds is encoded the same wherever it stands:
// two of them together are the two encodings one after the other and decode back to the
// two, and one beside an ASCII letter is its encoding beside that letter. A code page with
// shift states (ISO-2022-JP: escape sequences around every run of Kanji) fails: a name
// would reach the STB with control bytes in it, and what a name's bytes mean would depend
// on what came before them.
bool EncodesEachCharacterAlone(plat::CCharsetConv& conv)
{
    std::string astrChar[kMaxProbes], astrStb[kMaxProbes];
    size_t nHeld = 0;
    for (const char* pszChar : kProbeChars) {
        if (nHeld == kMaxProbes)
            break;
        astrStb[nHeld] = Encoded(conv, pszChar);
        if (!astrStb[nHeld].empty())
            astrChar[nHeld++] = pszChar;
    }
    for (size_t i = 0; i < nHeld; ++i) {
        if (Encoded(conv, astrChar[i] + "x") != astrStb[i] + "x" || Encoded(conv, "x" + astrChar[i]) != "x" + astrStb[i])
            return false;
        for (size_t j = 0; j < nHeld; ++j) {
            if (Encoded(conv, astrChar[i] + astrChar[j]) != astrStb[i] + astrStb[j])
                return false;
        }
    }
    return true;
}

// The ISO-2022 family by name ("ISO-2022-JP", "ISO2022KR", "csISO2022JP" ...), whatever
// the probes above find in it.
bool NamesIso2022(const std::string& strCodePage)
{
    std::string strName;
    for (char c : strCodePage) {
        if (c != '-' && c != '_')
            strName += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return strName.compare(0, 7, "ISO2022") == 0 || strName.compare(0, 9, "CSISO2022") == 0;
}

// Opens the code page into conv when names can pass through it; false (conv closed)
// otherwise.
bool OpenUsable(plat::CCharsetConv& conv, const std::string& strCodePage)
{
    if (!NamesIso2022(strCodePage) && conv.Open(strCodePage) == 0 && KeepsAscii(conv) &&
        EncodesEachCharacterAlone(conv))
        return true;
    conv.Close();
    return false;
}

}  // namespace

int CheckStbCodePage(const std::string& strCodePage)
{
    plat::CCharsetConv conv;
    return OpenUsable(conv, strCodePage) ? 0 : -1;
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
    if (!OpenUsable(m_Conv, strCodePage)) {
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
    // The name is shown only under bytes that decode back to it exactly: bytes that decode
    // to another name (CP932 writes U+00A5 as the 0x5C of '\', and U+301C as the 81 60 of
    // U+FF5E) would lead the STB to that other file.
    if (m_bBroken || m_Conv.ToCodePage(local, strStb, static_cast<size_t>(kMaxPayload)) != 0 ||
        strStb.find('\0') != std::string::npos || m_Conv.ToLocal(strStb, m_strRoundTrip, local.size()) != 0 ||
        m_strRoundTrip != local) {
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
