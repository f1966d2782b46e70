// The options that every session of the daemon works under. The application builds the
// record once at start, from the command line and the settings file (ApplyNetOptions),
// before the listener opens; the session manager, every session and every transfer
// context then read that one record through a const reference, and nothing changes it
// while a session runs.
#pragma once

#include <cstdint>
#include <string>

class CBufferBudget;

constexpr int kWaitTimeoutMs = 10000;  // silence allowed between frames
constexpr int kBodyTimeoutMs = 5000;   // each read of a frame's length and body
constexpr int kSendTimeoutMs = 30000;  // a frame the STB does not take within it ends the session
// The pause between a full block of a data stream leaving and the next frame leaving:
// the protocol's pacing of 1 ms.
constexpr uint64_t kBlockPauseNs = 1000000;

struct CDaemonOptions {
    // Nothing in the shared folder may change.
    bool bReadOnly = false;
    // Links may lead out of the shared folder.
    bool bWideLinks = false;
    // A user is at the desktop (the dialog runs): a copy or move may show its progress
    // there. Off for the headless daemon, where no one could answer a window.
    bool bInteractive = false;
    // The STB's code page: with bFixedCharset the command line's strCharset (empty: names
    // pass unchanged), which wins over the stored one; without it every mapping reads the
    // code page stored with the shared folder.
    bool bFixedCharset = false;
    std::string strCharset;
    // Receive time-outs: between frames, and for each read within a frame; and the send
    // time-out of a connection's socket (tests shorten them).
    int nWaitTimeoutMs = kWaitTimeoutMs;
    int nBodyTimeoutMs = kBodyTimeoutMs;
    int nSendTimeoutMs = kSendTimeoutMs;
    // The pause after every full block of a data stream; 0 where the data path itself is
    // measured (the benchmark's corvane_nopace) or fuzzed.
    uint64_t ullBlockPauseNs = kBlockPauseNs;
    // What the transfer buffers of all sessions together draw from (null: no limit). The
    // budget counts, so it is not part of the record: the record points to the one its
    // builder keeps (the session manager's m_Budget in the daemon and the tests' server,
    // a fuzzer's own).
    CBufferBudget* pBudget = nullptr;
};

// The defaults: the record of a session or manager that was given none (no budget).
inline const CDaemonOptions& DefaultDaemonOptions()
{
    static const CDaemonOptions options;
    return options;
}
