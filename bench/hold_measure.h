// The daemon's resident memory while many sessions each hold a file opened for download:
// FC_FILE_DN_REQ answered, no data asked for. A file of up to 10 MiB is read whole into a
// transfer buffer at the open; the buffers of all sessions together are bounded, and the
// files past the bound are served from disk instead.
#pragma once

#include <cstdint>
#include <string>

// The STB path of the held file in the daemon's shared folder.
constexpr const char* kHoldStbPath = "/hold.bin";

struct HoldFigures {
    long nRssBeforeKiB = -1;  // VmRSS before the sessions open
    long nRssKiB = -1;        // VmRSS with every session holding its file
    long nThreadsAdded = 0;   // daemon threads added by the sessions
};

// Starts the daemon at strBinary, shares strLocal (ullSize bytes) as kHoldStbPath, and
// opens nSessions connections that each open it for download. False, with the reason on standard error,
// when the daemon does not start or a session is refused or answered wrongly.
bool MeasureHold(const std::string& strBinary, const std::string& strLocal, uint64_t ullSize, int nSessions,
                 HoldFigures& figures);
