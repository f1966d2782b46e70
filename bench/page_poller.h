// A client of the daemon's status page that reads it every second while a measurement
// runs, as a browser with the page open (its script fetches "/" every second), a
// Prometheus scrape ("/metrics") and `corvane --status` ("/status.json") would, all three
// each second. Every reply must be a whole 200 with a body; the polls and failures of every
// poller of the process are counted, so that a run said to be polled shows it was.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class CPagePoller {
public:
    // Starts polling the page at 127.0.0.1:usPort at once, then every nIntervalMs.
    explicit CPagePoller(uint16_t usPort, int nIntervalMs = 1000);
    // Stops polling and waits for the thread.
    ~CPagePoller();
    CPagePoller(const CPagePoller&) = delete;
    CPagePoller& operator=(const CPagePoller&) = delete;

    // Pages read whole and pages that failed, by every poller of this process so far.
    static uint64_t TotalPolls() { return s_ullPolls.load(); }
    static uint64_t TotalFailures() { return s_ullFailures.load(); }

private:
    void Run();

    uint16_t m_usPort;
    int m_nIntervalMs;
    std::mutex m_Mutex;
    std::condition_variable m_Wake;
    bool m_bStop = false;
    std::thread m_Thread;
    static std::atomic<uint64_t> s_ullPolls, s_ullFailures;
};
