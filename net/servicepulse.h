// What the accept thread tells the service manager each time it wakes (at least once a
// second): that the daemon is alive, at half the watchdog's interval, and the status line,
// when it has changed, at most once a second. A daemon whose accept thread hangs stops
// pinging, and the service manager restarts it.
#pragma once

#include <chrono>
#include <string>

// The status line for a number of live sessions: "0 STBs", "1 STB", "5 STBs".
std::string SessionCountText(int nSessions);

class CServicePulse {
public:
    using Clock = std::chrono::steady_clock;

    // The watchdog's interval as the service manager asks for it (none without one).
    CServicePulse();
    // A given interval; 0 for none (tests).
    explicit CServicePulse(std::chrono::milliseconds watchdogInterval);

    // What Tick sent, as bits.
    static constexpr int kSentWatchdog = 1;
    static constexpr int kSentStatus = 2;
    // One wake of the accept thread at the time now, with the status line of the moment.
    // Sends a watchdog ping when half the interval has passed since the last one (or none
    // was sent yet), and the status line when it differs from the one last sent and a
    // second has passed since then (or none was sent yet); a change held back goes out at a
    // later wake. Returns what it sent. Called by one thread only.
    int Tick(const std::string& strStatus, Clock::time_point now = Clock::now());

private:
    Clock::duration m_PingEvery;  // zero: no watchdog
    Clock::time_point m_LastPing, m_LastStatus;
    bool m_bPinged = false, m_bStatusSent = false;
    std::string m_strStatus;
};
