// Diagnostic lines of the daemon: printf-style, one whole line per call, written to
// standard output and flushed at once so that lines of different threads never mix.
#pragma once

#include "platform/compiler.h"

namespace plat {

// Writes one formatted diagnostic line. The format ends with "\n"; a text that does
// not end with one gets it, so every call is exactly one line. Bytes below 0x20 and
// 0x7F inside the text (a name or path from an STB can hold any byte) are written as
// \xNN with two lower-case hex digits ("\x0a" for a newline); every other byte, '\'
// included, passes unchanged. Callable from any thread. Does nothing while quiet mode
// is on.
void Trace(const char* pszFormat, ...) PLAT_PRINTF_FORMAT(1, 2);

// Turns the diagnostic lines off (--quiet) or on. Set once at start-up.
void SetTraceQuiet(bool bQuiet);

}  // namespace plat
