#include "cpu_pin.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sched.h>
#include <string>

bool PinThread(pid_t tid, int nCpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(nCpu, &set);
    return sched_setaffinity(tid, sizeof(set), &set) == 0;
}

bool PinProcess(pid_t pid, int nCpu)
{
    std::error_code ec;
    bool bOk = true;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        const pid_t tid = static_cast<pid_t>(strtol(entry.path().filename().c_str(), nullptr, 10));
        if (!PinThread(tid, nCpu) && errno != ESRCH)
            bOk = false;
    }
    return bOk && !ec;
}

CTwoCpus::CTwoCpus()
{
    CPU_ZERO(&m_Saved);
    const int nCpu = sched_getcpu();
    if (nCpu < 0 || sched_getaffinity(0, sizeof(m_Saved), &m_Saved) != 0)
        return;
    for (int i = 0; i < CPU_SETSIZE && m_nServerCpu < 0; ++i) {
        if (i != nCpu && CPU_ISSET(i, &m_Saved))
            m_nServerCpu = i;
    }
    m_bOk = m_nServerCpu >= 0 && PinThread(0, nCpu);
}

CTwoCpus::~CTwoCpus()
{
    if (m_bOk)
        sched_setaffinity(0, sizeof(m_Saved), &m_Saved);
}
