// Process-wide signal set-up: SIGINT and SIGTERM are taken by the main thread alone;
// SIGPIPE and SIGXFSZ never end the process.
#pragma once

#include <cstdint>

namespace plat {

// Called on the main thread before any other thread exists: blocks SIGINT and SIGTERM
// (every later thread inherits the mask) and ignores SIGPIPE and SIGXFSZ.
void SetupProcessSignals();
// Waits on the main thread until SIGINT or SIGTERM arrives; returns the signal number.
int WaitForTerminationSignal();

// A handle an event loop watches for readability (Qt: a QSocketNotifier on it); it
// becomes readable when the end of the process is asked for (SIGINT, SIGTERM).
using TerminationHandle = intptr_t;
constexpr TerminationHandle kNoTerminationHandle = -1;

// Takes one pending request off a readable handle: true when the end was asked for, false
// when nothing was pending.
bool TakeTerminationRequest(TerminationHandle hHandle);

// Owns the handle, for an event loop that cannot sit in WaitForTerminationSignal. Create it
// on the main thread after SetupProcessSignals; the handle is valid while it lives.
class CTerminationNotifier {
public:
    CTerminationNotifier();
    ~CTerminationNotifier();
    CTerminationNotifier(const CTerminationNotifier&) = delete;
    CTerminationNotifier& operator=(const CTerminationNotifier&) = delete;

    // The handle, or kNoTerminationHandle when none could be had (then only Exit ends).
    TerminationHandle Handle() const { return m_hHandle; }

private:
    TerminationHandle m_hHandle = kNoTerminationHandle;
};

}  // namespace plat
