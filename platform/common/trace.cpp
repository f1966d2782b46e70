#include "platform/log.h"

#include "platform/common/trace_out.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

namespace plat {

namespace {

std::atomic<bool> g_bQuiet{false};

// A line longer than this is cut here (frames are shorter, so only a runaway format).
constexpr size_t kMaxLine = 64 * 1024;

// How many bytes from pText[i] on are written as \xNN: one for a byte below 0x20, 0x7F
// and the backslash (so that an escape in the text cannot pass for one made here); the
// two of a C1 control in UTF-8 (C2 80..C2 9F) and the three of a bidirectional control
// (U+202A..U+202E: E2 80 AA..AE; U+2066..U+2069: E2 81 A6..A9), which a terminal or an
// editor would act upon or use to reorder the line; 0 for a byte written as it is.
size_t EscapedRun(const unsigned char* p, size_t i, size_t nLen)
{
    const unsigned char c = p[i];
    if (c < 0x20 || c == 0x7F || c == '\\')
        return 1;
    if (c == 0xC2 && i + 1 < nLen && p[i + 1] >= 0x80 && p[i + 1] <= 0x9F)
        return 2;
    if (c == 0xE2 && i + 2 < nLen) {
        const unsigned char c2 = p[i + 2];
        if ((p[i + 1] == 0x80 && c2 >= 0xAA && c2 <= 0xAE) || (p[i + 1] == 0x81 && c2 >= 0xA6 && c2 <= 0xA9))
            return 3;
    }
    return 0;
}

// The text as one line, with the bytes EscapedRun names written as \xNN.
std::string EscapedLine(const char* pText, size_t nLen)
{
    static const char kHex[] = "0123456789abcdef";
    if (nLen > 0 && pText[nLen - 1] == '\n')
        --nLen;  // the line's own end
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pText);
    std::string strLine;
    strLine.reserve(nLen + 1);
    for (size_t i = 0; i < nLen;) {
        size_t nRun = EscapedRun(p, i, nLen);
        if (nRun == 0) {
            strLine += static_cast<char>(p[i++]);
            continue;
        }
        for (; nRun > 0; --nRun, ++i) {
            strLine += '\\';
            strLine += 'x';
            strLine += kHex[p[i] >> 4];
            strLine += kHex[p[i] & 0x0F];
        }
    }
    strLine += '\n';
    return strLine;
}

}  // namespace

void SetTraceQuiet(bool bQuiet) { g_bQuiet.store(bQuiet, std::memory_order_relaxed); }

void Trace(const char* pszFormat, ...)
{
    if (g_bQuiet.load(std::memory_order_relaxed))
        return;
    char szLine[1024];
    va_list args;
    va_start(args, pszFormat);
    va_list argsAgain;
    va_copy(argsAgain, args);
    const int n = vsnprintf(szLine, sizeof(szLine), pszFormat, args);
    va_end(args);
    const char* pText = szLine;
    size_t nLen = n < 0 ? 0 : static_cast<size_t>(n);
    std::unique_ptr<char[]> pLong;
    if (nLen >= sizeof(szLine)) {
        // A long path: formatted again in a buffer of its size, else cut.
        const size_t nSize = (nLen < kMaxLine ? nLen : kMaxLine) + 1;
        pLong.reset(new (std::nothrow) char[nSize]);
        if (pLong != nullptr && vsnprintf(pLong.get(), nSize, pszFormat, argsAgain) >= 0) {
            pText = pLong.get();
            nLen = nSize - 1;
        } else {
            nLen = sizeof(szLine) - 1;
        }
    }
    va_end(argsAgain);
    if (n < 0)
        return;
    WriteTraceLine(EscapedLine(pText, nLen));
}

}  // namespace plat
