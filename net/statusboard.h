// The daemon's status as the user sees it: the STBs connected and what each is doing, the
// totals since start and the last events. The accept thread, which owns the session list,
// publishes a snapshot about once a second; the dialog, the status page and the service
// manager's status line read the latest one. Nothing here is on the data path.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "net/activity.h"

// One connected STB.
struct CStbStatus {
    unsigned long ulId = 0;    // the session's identity (as in the diagnostic lines)
    uint32_t ulPeerAddr = 0;   // IPv4, host byte order
    int64_t llSince = 0;       // when it connected, seconds since 1970
    CActivityView activity;
    uint64_t ullRate = 0;      // bytes per second over the last few seconds
};

enum class StatusEventKind : uint8_t { Connected, Disconnected, Finished, Failed, Refused };
const char* StatusEventName(StatusEventKind eKind);

struct CStatusEvent {
    int64_t llTime = 0;  // seconds since 1970
    StatusEventKind eKind = StatusEventKind::Connected;
    uint32_t ulPeerAddr = 0;
    std::string strText;  // what finished or failed, why a host was refused
};

struct CStatusTotals {
    uint64_t ullSent = 0;        // bytes sent to STBs since start
    uint64_t ullReceived = 0;    // bytes received from them
    uint64_t ullSessions = 0;    // sessions opened
    uint64_t ullRefusedAddress = 0;  // connections refused: the host is not allowed
    uint64_t ullRefusedCap = 0;      // connections refused: too many sessions
};

struct CStatusSnapshot {
    int64_t llNow = 0;       // when it was taken
    int64_t llStarted = 0;   // when the daemon started
    // Filled by whoever shows the snapshot, from the daemon's options and the volume:
    uint16_t usPort = 0;                 // the STB port listened on
    std::vector<uint32_t> addresses;     // the addresses STBs reach it at (not loopback)
    bool bHasFree = false;               // the shared folder's free bytes are known
    uint64_t ullFreeBytes = 0;
    std::vector<CStbStatus> stbs;
    CStatusTotals totals;
    std::vector<CStatusEvent> events;  // oldest first
};

// The most events kept.
constexpr size_t kMaxStatusEvents = 50;

class CStatusBoard {
public:
    CStatusBoard();

    // Records an event. Any thread.
    void AddEvent(StatusEventKind eKind, uint32_t ulPeerAddr, std::string strText);
    // Counts a refused connection. Accept thread.
    void CountRefused(bool bByCap);
    // A session was opened. Accept thread.
    void CountSession();
    // A session's bytes, added to the totals by the next Publish, which no longer lists
    // it (so that no snapshot counts them twice or not at all). Accept thread.
    void AddEnded(uint64_t ullSent, uint64_t ullReceived);

    // Publishes the live sessions (their rates computed here from the last samples).
    // Accept thread.
    void Publish(std::vector<CStbStatus> stbs);

    // The latest snapshot, with the events up to now. Any thread.
    CStatusSnapshot Snapshot() const;

private:
    struct CSample {
        int64_t llMillis;  // steady clock
        uint64_t ullBytes;
    };

    mutable std::mutex m_Lock;
    int64_t m_llStarted;
    std::vector<CStbStatus> m_Stbs;
    CStatusTotals m_Totals;     // of ended sessions; live ones are added in Snapshot
    std::deque<CStatusEvent> m_Events;
    // Accept thread only:
    std::map<unsigned long, std::deque<CSample>> m_Samples;
    uint64_t m_ullEndedSent = 0, m_ullEndedReceived = 0;
};

// Seconds since 1970, now.
int64_t StatusClockNow();
