// Diagnostic lines of the daemon: printf-style, one whole line per call, written to
// standard output and flushed at once so that lines of different threads never mix.
#pragma once

namespace plat {

// Writes one formatted diagnostic line (the format carries its own "\n").
// Callable from any thread. Does nothing while quiet mode is on.
void Trace(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));

// Turns the diagnostic lines off (--quiet) or on. Set once at start-up.
void SetTraceQuiet(bool bQuiet);

}  // namespace plat
