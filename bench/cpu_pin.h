// Which CPU a measurement's processes run on. Between two CPUs of a virtual machine a reply
// costs a wake-up across CPUs whose price changes tenfold with the host's load, and the
// scheduler places each server's threads as it likes: left alone, where it happened to
// put them would decide a comparison of two servers.
#pragma once

#include <sched.h>
#include <sys/types.h>

// Holds the thread (0: the caller) to one CPU. False when the kernel refuses.
bool PinThread(pid_t tid, int nCpu);

// Holds every thread of the process to one CPU; the threads it starts later inherit it.
// A thread that ends meanwhile (the session of a readiness check) is no failure.
bool PinProcess(pid_t pid, int nCpu);

// Two CPUs, as an STB and the PC have a processor each: for its lifetime the calling
// thread stays on the CPU it runs on, and every server given to Pin runs on another one,
// the same for all of them, so that servers compared with each other are woken alike.
// The thread's own affinity comes back at the end; the servers keep theirs.
class CTwoCpus {
public:
    CTwoCpus();
    ~CTwoCpus();
    CTwoCpus(const CTwoCpus&) = delete;
    CTwoCpus& operator=(const CTwoCpus&) = delete;

    // False when the kernel refuses, or when this process may use one CPU only.
    bool Pin(pid_t pid) const { return m_bOk && PinProcess(pid, m_nServerCpu); }

private:
    cpu_set_t m_Saved;
    bool m_bOk = false;
    int m_nServerCpu = -1;
};
