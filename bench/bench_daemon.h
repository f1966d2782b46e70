// The daemon, or a floor server, started for one measurement by the starter the tests use
// (tests/daemon_proc.h): settings, runtime, state and shared folders of its own under /tmp
// or another folder (so it never meets another copy), a free loopback port, and readiness proved by an FC_VER_REQ
// answered. With its diagnostic lines on, a thread of ours drains them from a pipe, as a
// terminal would.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "page_poller.h"
#include "tests/daemon_proc.h"

class CBenchDaemon {
public:
    CBenchDaemon() = default;
    // Kills a program still running and removes its folders.
    ~CBenchDaemon();
    CBenchDaemon(const CBenchDaemon&) = delete;
    CBenchDaemon& operator=(const CBenchDaemon&) = delete;

    // Starts `corvane --headless --share DIR --port P` with both session caps lifted (every
    // connection comes from 127.0.0.1) and --quiet. Its status page is on, as by default,
    // but on a free loopback port of its own (StatusPort()), so that no two daemons of a
    // run, nor one of the machine, meet on 127.0.0.1:2009. With bTrace the daemon runs
    // without --quiet and its diagnostic lines are drained. 0, or -1 with the reason in
    // strError.
    int Start(const std::string& strBinary, bool bTrace, std::string& strError);
    // From now on every daemon Start starts has its status page read every second while
    // it runs (a CPagePoller; not the floor server's, which has none). For --poll-page.
    static void PollPages(bool bOn) { s_bPollPages = bOn; }
    static bool PollingPages() { return s_bPollPages; }
    // Starts the floor server at strBinary (bench/floor_server.cpp) on the shared folder
    // instead: the least a server must do to answer the same requests. 0, or -1.
    int StartFloor(const std::string& strBinary, std::string& strError);
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
    // The next Start runs the daemon through strWrapper, a program that executes its
    // arguments in its own process (corvane_no_openat2): the process measured is still
    // the daemon's.
    void SetWrapper(const std::string& strWrapper) { m_strWrapper = strWrapper; }
    // The folder that holds the program's folders (its shared folder and its state
    // folder among them) instead of /tmp; set before the first Start.
    void SetPlace(const std::string& strBase) { m_strBase = strBase; }

    // Sends SIGTERM and waits up to nTimeoutMs for the program to end. Its exit status, or
    // a negative number (killed, or it did not end in time). pSeconds receives the time it
    // took.
    int Stop(int nTimeoutMs, double* pSeconds);

    pid_t Pid() const { return m_pProc && m_pProc->Running() ? m_pProc->Pid() : -1; }
    uint16_t Port() const { return m_pProc ? m_pProc->Port() : 0; }
    // The port of the daemon's status page (0 for the floor server).
    uint16_t StatusPort() const { return m_pProc ? m_usStatusPort : 0; }
    // The shared folder (the STB path "x" is ShareDir() + "/x"); empty before the first
    // Start.
    std::string ShareDir() const { return m_strRoot.empty() ? std::string() : m_strRoot + "/share"; }
    // Bytes of diagnostic output drained so far (bTrace only).
    uint64_t TraceBytes() const { return m_ullTraceBytes.load(); }

private:
    int MakeFolders(std::string& strError);
    int Launch(const std::string& strBinary, const std::vector<std::string>& args, bool bTrace,
               std::string& strError);
    void Reap();

    std::string m_strRoot;
    std::string m_strBase = "/tmp";
    std::string m_strMaxSessions = "100000";  // the daemon's largest --max-sessions
    std::string m_strMaxPerHost = "100000";
    bool m_bWideLinks = false;
    std::string m_strWrapper;
    std::unique_ptr<CDaemonProcess> m_pProc;
    uint16_t m_usStatusPort = 0;
    std::unique_ptr<CPagePoller> m_pPoller;
    static bool s_bPollPages;
    int m_fdTrace = -1;
    std::thread m_Drain;
    std::atomic<uint64_t> m_ullTraceBytes{0};
};
