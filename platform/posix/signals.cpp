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

int OpenTerminationSignalFd()
{
    sigset_t set = TerminationSet();
    return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

int ReadTerminationSignal(int nFd)
{
    signalfd_siginfo info;
    ssize_t n = read(nFd, &info, sizeof(info));
    return n == static_cast<ssize_t>(sizeof(info)) ? static_cast<int>(info.ssi_signo) : 0;
}

void CloseTerminationSignalFd(int nFd) { close(nFd); }

}  // namespace plat
