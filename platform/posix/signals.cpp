#include "platform/signals.h"

#include <csignal>
#include <pthread.h>

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

}  // namespace plat
