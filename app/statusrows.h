// What the dialog's status part shows, as text: the lines that say where STBs reach this
// computer, and one row of the STB list per connected STB. Pure text from a snapshot, so
// that both windows (Qt and Win32) show the same words and the logic can be tested
// without either.
#pragma once

#include <string>
#include <vector>

#include "net/statusboard.h"

// One row of the list of connected STBs.
struct CStbRow {
    std::string strAddress;   // "192.168.1.40"
    std::string strSince;     // when it connected, local time to the minute: "14:02"
    std::string strDoing;     // "sending /rec.ts", "idle"
    std::string strProgress;  // "43 % of 2.8 GB, 30.1 MB/s"; empty when idle
    int nPercent = -1;        // the progress bar's value, 0..100; -1: no bar (no total known)

    bool operator==(const CStbRow&) const = default;
};

// "STBs reach this computer at ADDRESS (port PORT)" for each address of the snapshot; with
// none (a computer with only loopback) one line that says STBs cannot reach it yet.
std::vector<std::string> ReachLines(const CStatusSnapshot& snap);

// The row of one connected STB.
CStbRow StbRow(const CStbStatus& stb);
