// The real daemon, started for one measurement: a settings folder, a runtime folder and a
// shared folder of its own (so it never meets another copy), a free port, readiness by
// connecting, and its memory and thread figures from /proc.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <thread>

class CDaemonProc {
public:
    CDaemonProc() = default;
    // Kills a daemon still running and removes its folders.
    ~CDaemonProc();
    CDaemonProc(const CDaemonProc&) = delete;
    CDaemonProc& operator=(const CDaemonProc&) = delete;

    // Starts `corvane --headless --quiet --port P --share DIR` (with both session caps
    // lifted: every connection comes from 127.0.0.1) and returns once a
    // connection has been answered. With bTrace the daemon runs without --quiet and its
    // diagnostic lines go to a pipe that a thread of ours drains, as a terminal would.
    // 0, or -1 with the reason in strError.
    int Start(const std::string& strBinary, bool bTrace, std::string& strError);
    // The session caps that the next Start passes instead of the lifted ones, for a
    // measurement of the daemon at the caps it is held to.
    void SetSessionCaps(int nMaxSessions, int nMaxPerHost)
    {
        m_strMaxSessions = std::to_string(nMaxSessions);
        m_strMaxPerHost = std::to_string(nMaxPerHost);
    }
    // The next Start passes --wide-links: the benchmark links trees made outside into
    // the shared folder.
    void SetWideLinks() { m_bWideLinks = true; }

    // Sends SIGTERM and waits up to nTimeoutMs for the daemon to end. Its exit status, or
    // -1 (killed, or it did not end in time). pSeconds receives the time it took.
    int Stop(int nTimeoutMs, double* pSeconds);

    pid_t Pid() const { return m_pid; }
    uint16_t Port() const { return m_usPort; }
    // The daemon's shared folder (the STB path "x" is ShareDir() + "/x"); empty before
    // the first Start.
    std::string ShareDir() const { return m_strRoot.empty() ? std::string() : m_strRoot + "/share"; }
    // A numeric field of /proc/PID/status ("VmRSS" in KiB, "Threads"), or -1.
    long StatusField(const char* pszKey) const;
    // CPU time the daemon's live threads have run so far, in seconds (from
    // /proc/PID/task/*/schedstat), or -1. Threads that have ended are not counted.
    double CpuSeconds() const;
    // User plus system time of the whole process so far (utime + stime of
    // /proc/PID/stat, ended threads included), in seconds, or -1. Its resolution is one
    // clock tick (10 ms): for measurements of a second or more.
    double ProcessCpuSeconds() const;
    // Bytes of diagnostic output drained so far (bTrace only).
    uint64_t TraceBytes() const { return m_ullTraceBytes.load(); }

private:
    int Launch(const std::string& strBinary, bool bTrace, std::string& strError);
    int WaitReady(std::string& strError);
    void Reap();

    std::string m_strRoot;
    std::string m_strMaxSessions = "100000";  // the daemon's largest --max-sessions
    std::string m_strMaxPerHost = "100000";
    bool m_bWideLinks = false;
    pid_t m_pid = -1;
    uint16_t m_usPort = 0;
    int m_fdTrace = -1;
    std::thread m_Drain;
    std::atomic<uint64_t> m_ullTraceBytes{0};
};
