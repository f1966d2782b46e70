#include "tools/progress.h"

#include <cstdio>

namespace {

constexpr auto kFirstDraw = std::chrono::milliseconds(500);
constexpr auto kRedraw = std::chrono::milliseconds(200);
constexpr size_t kLabelWidth = 24;

// A bar is on the terminal's last line (only one transfer draws at a time).
bool g_bBarShown = false;

}  // namespace

std::string HumanBytes(uint64_t ullBytes)
{
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (ullBytes < 1024)
        return std::to_string(ullBytes) + " B";
    double d = static_cast<double>(ullBytes);
    int nUnit = 0;
    while (d >= 1024.0 && nUnit < 6) {
        d /= 1024.0;
        ++nUnit;
    }
    char sz[32];
    snprintf(sz, sizeof(sz), "%.1f %s", d, kUnits[nUnit]);
    return sz;
}

std::string HumanDuration(double dSeconds)
{
    if (!(dSeconds >= 0.0) || dSeconds > 359999.0)
        return "--:--";
    const unsigned long ul = static_cast<unsigned long>(dSeconds + 0.5);
    char sz[32];
    if (ul >= 3600)
        snprintf(sz, sizeof(sz), "%lu:%02lu:%02lu", ul / 3600, ul / 60 % 60, ul % 60);
    else
        snprintf(sz, sizeof(sz), "%lu:%02lu", ul / 60, ul % 60);
    return sz;
}

void InterruptProgress()
{
    if (g_bBarShown)
        fputs("\r\x1b[K", stderr);
    g_bBarShown = false;
}

CProgress::CProgress(bool bEnabled, const std::string& strLabel, uint64_t ullTotal)
    : m_bEnabled(bEnabled), m_strLabel(strLabel), m_ullTotal(ullTotal), m_Start(Clock::now()),
      m_NextDraw(m_Start + kFirstDraw)
{
    if (m_strLabel.size() > kLabelWidth)
        m_strLabel = "..." + m_strLabel.substr(m_strLabel.size() - (kLabelWidth - 3));
}

CProgress::~CProgress() { Finish(); }

void CProgress::Advance(uint64_t ullBytes)
{
    m_ullDone += ullBytes;
    if (!m_bEnabled)
        return;
    const Clock::time_point now = Clock::now();
    if (now < m_NextDraw)
        return;
    m_NextDraw = now + kRedraw;
    Draw(false);
}

void CProgress::Finish()
{
    if (m_bEnabled && m_bDrawn) {
        Draw(true);
        fputc('\n', stderr);
        g_bBarShown = false;
    }
    m_bEnabled = false;
}

void CProgress::Draw(bool bFinal)
{
    const double dElapsed = std::chrono::duration<double>(Clock::now() - m_Start).count();
    const double dRate = dElapsed > 0.0 ? static_cast<double>(m_ullDone) / dElapsed : 0.0;
    const uint64_t ullShown = m_ullDone < m_ullTotal ? m_ullDone : m_ullTotal;
    const int nPercent = m_ullTotal == 0 ? 100 : static_cast<int>(ullShown * 100.0 / static_cast<double>(m_ullTotal));
    std::string strTime;
    if (bFinal)
        strTime = "in " + HumanDuration(dElapsed);
    else
        strTime = HumanDuration(dRate > 0.0 ? static_cast<double>(m_ullTotal - ullShown) / dRate : -1.0) + " left";
    fprintf(stderr, "\r%-*s %10s / %-10s %3d%%  %10s/s  %s\x1b[K", static_cast<int>(kLabelWidth), m_strLabel.c_str(),
            HumanBytes(m_ullDone).c_str(), HumanBytes(m_ullTotal).c_str(), nPercent,
            HumanBytes(static_cast<uint64_t>(dRate)).c_str(), strTime.c_str());
    fflush(stderr);
    m_bDrawn = true;
    g_bBarShown = true;
}
