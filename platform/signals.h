// Process-wide signal set-up: SIGINT and SIGTERM are taken by the main thread alone;
// SIGPIPE and SIGXFSZ never end the process.
#pragma once

namespace plat {

// Called on the main thread before any other thread exists: blocks SIGINT and SIGTERM
// (every later thread inherits the mask) and ignores SIGPIPE and SIGXFSZ.
void SetupProcessSignals();
// Waits on the main thread until SIGINT or SIGTERM arrives; returns the signal number.
int WaitForTerminationSignal();

// A descriptor that becomes readable when SIGINT or SIGTERM arrives (for an event loop
// that cannot sit in WaitForTerminationSignal), or -1. Call after SetupProcessSignals.
int OpenTerminationSignalFd();
// Takes one pending signal off the descriptor; returns its number, or 0.
int ReadTerminationSignal(int nFd);
void CloseTerminationSignalFd(int nFd);

}  // namespace plat
