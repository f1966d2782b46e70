#include "ver_serial.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "bench_conn.h"
#include "bench_util.h"
#include "proc_figures.h"

bool CVerSerial::Open(uint16_t usPort, pid_t pid)
{
    m_pid = pid;
    if (!ConnectLoopback(m_Conn, usPort))
        return Fail("bench_ver", m_Conn.Error());
    for (int i = 0; i < kWarmupRoundTrips; ++i) {
        if (!VerRoundTrip(m_Conn))
            return Fail("bench_ver: warm-up", m_Conn.Error());
    }
    m_Micros.reserve(1 << 20);
    return true;
}

bool CVerSerial::Block(int nCount, double& dRate)
{
    const double dCpuStart = ProcThreadsCpuSeconds(m_pid);
    const auto tStart = Clock::now();
    auto t = tStart;
    for (int i = 0; i < nCount; ++i) {
        if (!VerRoundTrip(m_Conn))
            return Fail("bench_ver", m_Conn.Error() + " after " + std::to_string(m_Micros.size()) + " round trips");
        const auto tNow = Clock::now();
        m_Micros.push_back(std::chrono::duration<float, std::micro>(tNow - t).count());
        t = tNow;
    }
    const double dCpuEnd = ProcThreadsCpuSeconds(m_pid);
    if (dCpuStart < 0 || dCpuEnd < 0)
        return Fail("bench_ver", "no CPU times of the server in /proc");
    const double dSeconds = Seconds(t - tStart);
    m_dSeconds += dSeconds;
    m_dServerCpu += dCpuEnd - dCpuStart;
    dRate = nCount / dSeconds;
    return true;
}

SerialFigures CVerSerial::Figures(const char* pszServer) const
{
    SerialFigures figures;
    if (m_Micros.empty())
        return figures;
    std::vector<float> sorted = m_Micros;
    std::sort(sorted.begin(), sorted.end());
    const double dCount = static_cast<double>(sorted.size());
    figures.dRate = dCount / m_dSeconds;
    figures.dP50Us = sorted[sorted.size() / 2];
    figures.dP99Us = sorted[sorted.size() * 99 / 100];
    figures.dServerCpuUs = m_dServerCpu * 1e6 / dCount;
    fprintf(stderr,
            "bench_ver:   %s: %.0f round trips/s; p50 %.1f us, p99 %.1f us, p99.9 %.1f us, slowest %.1f us; "
            "server CPU %.1f us a round trip\n",
            pszServer, figures.dRate, figures.dP50Us, figures.dP99Us,
            static_cast<double>(sorted[sorted.size() * 999 / 1000]), static_cast<double>(sorted.back()),
            figures.dServerCpuUs);
    return figures;
}
