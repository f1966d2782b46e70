#include "net/servicepulse.h"

#include <algorithm>

#include "platform/service.h"

// The shortest time between two status lines.
constexpr std::chrono::seconds kStatusEvery{1};

std::string SessionCountText(int nSessions)
{
    return std::to_string(nSessions) + (nSessions == 1 ? " STB" : " STBs");
}

CServicePulse::CServicePulse() : CServicePulse(std::chrono::milliseconds(plat::ServiceWatchdogIntervalMs())) {}

CServicePulse::CServicePulse(std::chrono::milliseconds watchdogInterval)
    : m_PingEvery(watchdogInterval <= std::chrono::milliseconds::zero()
                      ? Clock::duration::zero()
                      : std::max<Clock::duration>(watchdogInterval / 2, std::chrono::milliseconds(1)))
{
}

int CServicePulse::Tick(const std::string& strStatus, Clock::time_point now)
{
    int nSent = 0;
    if (m_PingEvery > Clock::duration::zero() && (!m_bPinged || now - m_LastPing >= m_PingEvery)) {
        plat::ServiceNotifyWatchdog();
        m_LastPing = now;
        m_bPinged = true;
        nSent |= kSentWatchdog;
    }
    if (!m_bStatusSent || (strStatus != m_strStatus && now - m_LastStatus >= kStatusEvery)) {
        plat::ServiceNotifyStatus(strStatus);
        m_strStatus = strStatus;
        m_LastStatus = now;
        m_bStatusSent = true;
        nSent |= kSentStatus;
    }
    return nSent;
}
