// The progress bar of long transfers, drawn on standard error: bytes, percent, rate and
// time left. Transfers shorter than half a second never show it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class CProgress {
public:
    // Draws nothing unless bEnabled (see ProgressWanted()).
    CProgress(bool bEnabled, const std::string& strLabel, uint64_t ullTotal);
    ~CProgress();
    CProgress(const CProgress&) = delete;
    CProgress& operator=(const CProgress&) = delete;

    void Advance(uint64_t ullBytes);
    // Ends the bar's line (once); called by the destructor too.
    void Finish();

private:
    using Clock = std::chrono::steady_clock;
    void Draw(bool bFinal);

    bool m_bEnabled;
    bool m_bDrawn = false;
    std::string m_strLabel;
    uint64_t m_ullTotal;
    uint64_t m_ullDone = 0;
    Clock::time_point m_Start;
    Clock::time_point m_NextDraw;
};

// Clears the line of a bar being drawn, so that a message can take it; the bar comes back
// with its next update.
void InterruptProgress();

// "512 B", "1.5 KiB", "3.2 MiB", "1.0 GiB", ...
std::string HumanBytes(uint64_t ullBytes);
// "0:07", "12:34", "1:02:03".
std::string HumanDuration(double dSeconds);
