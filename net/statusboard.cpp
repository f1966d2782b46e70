#include "net/statusboard.h"

#include <chrono>

namespace {

// The window the rate is measured over.
constexpr int64_t kRateWindowMs = 5000;

int64_t SteadyMillis()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The bytes that move for the session's activity: a copy or move moves them on this
// computer, anything else over the connection.
uint64_t MovingBytes(const CActivityView& view)
{
    if (view.eActivity == StbActivity::Copying || view.eActivity == StbActivity::Moving)
        return view.ullDone;
    return view.ullSent + view.ullReceived;
}

}  // namespace

const char* StatusEventName(StatusEventKind eKind)
{
    switch (eKind) {
    case StatusEventKind::Connected:
        return "connected";
    case StatusEventKind::Disconnected:
        return "disconnected";
    case StatusEventKind::Finished:
        return "finished";
    case StatusEventKind::Failed:
        return "failed";
    case StatusEventKind::Refused:
        return "refused";
    }
    return "";
}

int64_t StatusClockNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

CStatusBoard::CStatusBoard() : m_llStarted(StatusClockNow()) {}

void CStatusBoard::AddEvent(StatusEventKind eKind, uint32_t ulPeerAddr, std::string strText)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_Events.size() == kMaxStatusEvents)
        m_Events.pop_front();
    m_Events.push_back({StatusClockNow(), eKind, ulPeerAddr, std::move(strText)});
}

void CStatusBoard::CountRefused(bool bByCap)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    ++(bByCap ? m_Totals.ullRefusedCap : m_Totals.ullRefusedAddress);
}

void CStatusBoard::CountSession()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    ++m_Totals.ullSessions;
}

void CStatusBoard::AddEnded(uint64_t ullSent, uint64_t ullReceived)
{
    m_ullEndedSent += ullSent;
    m_ullEndedReceived += ullReceived;
}

void CStatusBoard::Publish(std::vector<CStbStatus> stbs)
{
    const int64_t llNow = SteadyMillis();
    std::map<unsigned long, std::deque<CSample>> samples;
    for (CStbStatus& stb : stbs) {
        std::deque<CSample>& mine = samples[stb.ulId];
        if (auto it = m_Samples.find(stb.ulId); it != m_Samples.end())
            mine = std::move(it->second);
        const uint64_t ullBytes = MovingBytes(stb.activity);
        // A new transfer of a copy starts its count again: its samples start again too.
        if (!mine.empty() && mine.back().ullBytes > ullBytes)
            mine.clear();
        mine.push_back({llNow, ullBytes});
        while (mine.size() > 1 && llNow - mine.front().llMillis > kRateWindowMs)
            mine.pop_front();
        const int64_t llSpan = llNow - mine.front().llMillis;
        stb.ullRate = llSpan > 0 ? (ullBytes - mine.front().ullBytes) * 1000 / static_cast<uint64_t>(llSpan) : 0;
    }
    m_Samples = std::move(samples);  // the sessions gone take their samples with them
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Stbs = std::move(stbs);
    m_Totals.ullSent += m_ullEndedSent;
    m_Totals.ullReceived += m_ullEndedReceived;
    m_ullEndedSent = m_ullEndedReceived = 0;
}

CStatusSnapshot CStatusBoard::Snapshot() const
{
    CStatusSnapshot snap;
    snap.llNow = StatusClockNow();
    std::lock_guard<std::mutex> lock(m_Lock);
    snap.llStarted = m_llStarted;
    snap.stbs = m_Stbs;
    snap.totals = m_Totals;
    for (const CStbStatus& stb : m_Stbs) {
        snap.totals.ullSent += stb.activity.ullSent;
        snap.totals.ullReceived += stb.activity.ullReceived;
    }
    snap.events.assign(m_Events.begin(), m_Events.end());
    return snap;
}
