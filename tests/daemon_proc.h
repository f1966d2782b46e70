// One of our programs, the daemon by default, run as a child process of a test or a
// benchmark: with a settings and a runtime folder of its own, its standard output and
// error in files (or its output on a pipe), ended with SIGTERM. It says what went wrong
// through its results and Error() and never fails a test by itself, so that the tests
// and the benchmarks (which have no test framework) start programs the same way. Not for
// use from more than one thread.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

class CDaemonProcess {
public:
    // strFolder holds cfg/ and run/, the child's XDG_CONFIG_HOME and XDG_RUNTIME_DIR (as a
    // CTempShare's Root() does), and state/, its XDG_STATE_HOME (made by the child), and
    // receives <strTag>.out and <strTag>.err. strProgram:
    // the program to run; empty for the daemon built beside the tests.
    explicit CDaemonProcess(const std::string& strFolder, const std::string& strTag = "daemon",
                            const std::string& strProgram = "");
    // Kills (SIGKILL) and reaps a child still running.
    ~CDaemonProcess();
    CDaemonProcess(const CDaemonProcess&) = delete;
    CDaemonProcess& operator=(const CDaemonProcess&) = delete;

    // Starts the program with the arguments (without the program name), standard input on
    // /dev/null, in strCwd when given; standard error goes to strErrTo instead of
    // <strTag>.err when given (a terminal, say). False, with the reason in Error(), when it
    // could not be started. One child at a time: a running one is killed first.
    bool Start(const std::vector<std::string>& args, const std::string& strCwd = "", const std::string& strErrTo = "");
    // Start with "--port N" for a free loopback port appended, until its listener takes a
    // connection at pszAddr; a port taken meanwhile by another program makes it try
    // another. The port (also Port()), or 0 with the reason in Error() when the program
    // never listened.
    uint16_t StartListening(std::vector<std::string> args, const char* pszAddr = "127.0.0.1",
                            const std::string& strCwd = "");
    // True once the child accepts a connection on the port at pszAddr; false when it ended
    // first or timeoutMs passed.
    bool WaitListening(uint16_t port, const char* pszAddr = "127.0.0.1", int timeoutMs = 10000);

    // From the next Start on, the child's standard output goes to a pipe instead of
    // <strTag>.out (Out() is then empty). The caller takes the pipe's reading end with
    // TakeOutputPipe() and must keep reading it: a child whose pipe is full waits in its
    // writes, as it would on a terminal.
    void SetOutputPipe() { m_bOutPipe = true; }
    // The reading end of the running child's output pipe, now the caller's to read and
    // close; -1 when there is none (or it was taken already).
    int TakeOutputPipe();

    // True once the child has ended within timeoutMs (and was reaped), or none was started.
    bool Exited(int timeoutMs);
    // The exit status of the ended child; -1000 minus the raw wait status when it did not
    // exit by itself (a signal), -1 when it has not ended.
    int ExitCode() const;
    // Ends the child at once, as a crash or a power cut would (SIGKILL; TerminateProcess),
    // and reaps it.
    void Crash() { Kill(); }
    // Sends SIGTERM and waits up to timeoutMs; then SIGKILL. The ExitCode().
    int Stop(int timeoutMs = 10000);
    void Signal(int nSig) const;
#ifdef _WIN32
    // Windows has no signals: SIGINT, SIGTERM and SIGBREAK are a console Ctrl-Break to the
    // child, which runs in a process group and a console (without a window) of its own.
    // False when the event could not be sent (Wine delivers none to such a console).
    bool SendConsoleBreak() const;
#endif

    bool Running() const { return m_pid > 0 && !m_bExited; }
    pid_t Pid() const { return m_pid; }
    uint16_t Port() const { return m_usPort; }
    // What the child has written so far to its standard output and error.
    std::string Out() const;
    std::string Err() const;
    // Why the last Start or StartListening failed; empty after one that succeeded.
    const std::string& Error() const { return m_strError; }

private:
    void Kill();
    void ClosePipe();

    std::string m_strFolder, m_strProgram, m_strOut, m_strErr, m_strError;
    pid_t m_pid = -1;
    int m_nStatus = 0;
    bool m_bExited = false;
    uint16_t m_usPort = 0;
    bool m_bOutPipe = false;
    int m_fdOutPipe = -1;
#ifdef _WIN32
    void* m_hProcess = nullptr;  // the child's process handle (a HANDLE), closed by Kill or Start
#endif
};

// A loopback port that was free a moment ago (for programs that need a number up front),
// or 0 when none could be had.
uint16_t FreeLoopbackPort();
