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

// The text as one line, bytes below 0x20 and 0x7F written as \xNN.
std::string EscapedLine(const char* pText, size_t nLen)
{
    static const char kHex[] = "0123456789abcdef";
    if (nLen > 0 && pText[nLen - 1] == '\n')
        --nLen;  // the line's own end
    std::string strLine;
    strLine.reserve(nLen + 1);
    for (size_t i = 0; i < nLen; ++i) {
        const unsigned char c = static_cast<unsigned char>(pText[i]);
        if (c < 0x20 || c == 0x7F) {
            strLine += '\\';
            strLine += 'x';
            strLine += kHex[c >> 4];
            strLine += kHex[c & 0x0F];
        } else {
            strLine += static_cast<char>(c);
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
