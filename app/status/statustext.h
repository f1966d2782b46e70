// The status in words, for the dialog, the tray's tooltip, the service manager's status
// line and `corvane --status`. Pure text from a snapshot; no window, no socket.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/statusboard.h"

// "STBs reach this computer at 192.168.1.23 (port 2008)".
std::string ReachLine(uint32_t ulAddr, uint16_t usPort);

// What an STB is doing, as a user reads it: "sending /rec.ts", "receiving /up.ts", "idle".
std::string DoingText(const CActivityView& activity);
// The progress of its transfer in whole percent, or -1 when the protocol gave no total.
int ProgressPercent(const CActivityView& activity);

// "2 STBs; sending rec.ts 43 %": the number of STBs and the busiest transfer (the one
// moving the most bytes), by the file's name. "No STB connected" when none is.
std::string SummaryLine(const CStatusSnapshot& snap);
// The tray icon's tooltip: "Corvane: 2 STBs, receiving rec.ts 43 %".
std::string TooltipText(const CStatusSnapshot& snap);

// One line per connected STB for a list: "192.168.1.40  since 14:02  sending /rec.ts
// 1.2 GB of 2.8 GB (43 %), 30.1 MB/s".
std::string StbLine(const CStbStatus& stb);

// The whole status as text, as `corvane --status` prints it: addresses, STBs, totals and
// the recent events.
std::string StatusText(const CStatusSnapshot& snap);

// Bytes as a user reads them: "512 B", "1.2 KB", "30.1 MB", "2.8 GB" (powers of 1000).
std::string HumanBytes(uint64_t ullBytes);
// A time of day, local: "14:02:33".
std::string ClockText(int64_t llTime);
