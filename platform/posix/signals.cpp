#include "platform/signals.h"

#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace plat {

namespace {

sigset_t TerminationSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void SetupProcessSignals()
{
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    sigset_t set = TerminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForTerminationSignal()
{
    sigset_t set = TerminationSet();
    int nSig = 0;
    while (sigwait(&set, &nSig) != 0) {
    }
    return nSig;
}

// The handle is a signalfd for SIGINT and SIGTERM, which the main thread keeps blocked.
CTerminationNotifier::CTerminationNotifier()
{
    sigset_t set = TerminationSet();
    const int nFd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (nFd >= 0)
        m_hHandle = nFd;
}

CTerminationNotifier::~CTerminationNotifier()
{
    if (m_hHandle != kNoTerminationHandle)
        close(static_cast<int>(m_hHandle));
}

bool TakeTerminationRequest(TerminationHandle hHandle)
{
    if (hHandle == kNoTerminationHandle)
        return false;
    signalfd_siginfo info;
    const ssize_t n = read(static_cast<int>(hHandle), &info, sizeof(info));
    return n == static_cast<ssize_t>(sizeof(info));
}

}  // namespace plat
