// Diagnostic lines of the daemon: printf-style, one whole line per call, written to
// standard output and flushed at once so that lines of different threads never mix.
#pragma once

#include "platform/compiler.h"

namespace plat {

// Writes one formatted diagnostic line. The format ends with "\n"; a text that does
// not end with one gets it, so every call is exactly one line. Inside the text (a name
// or path from an STB can hold any byte) these are written as \xNN, two lower-case hex
// digits per byte: bytes below 0x20 and 0x7F ("\x0a" for a newline), the backslash
// ("\x5c", so that "\x0a" in a name cannot read as an escaped newline), and every byte
// of a C1 control in UTF-8 (U+0080..U+009F) and of a bidirectional embedding, override
// or isolate (U+202A..U+202E, U+2066..U+2069). Every other byte passes unchanged.
// Callable from any thread. Does nothing while quiet mode is on.
void Trace(const char* pszFormat, ...) PLAT_PRINTF_FORMAT(1, 2);

// Turns the diagnostic lines off (--quiet) or on. Set once at start-up.
void SetTraceQuiet(bool bQuiet);

}  // namespace plat
