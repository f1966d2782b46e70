#include "platform/thread.h"

#include "platform/common/thread_faults.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace plat {

struct ThreadRec {
    pthread_t thread{};
    ThreadFunc pfn = nullptr;
    void* pArg = nullptr;
    bool bJoinable = false;
    std::mutex gate;
    std::condition_variable cv;
    bool bResumed = false;
    std::atomic<pid_t> tid{0};
    std::atomic<bool> bTidKnown{false};
    // A detached thread's record is shared by its creator (until ThreadResume returns)
    // and the thread itself; the last one to let go frees it.
    std::atomic<int> nRefs{2};
};

namespace {

void* Trampoline(void* p)
{
    ThreadRec* pRec = static_cast<ThreadRec*>(p);
    pRec->tid.store(static_cast<pid_t>(syscall(SYS_gettid)));
    pRec->bTidKnown.store(true);
    {
        std::unique_lock<std::mutex> lock(pRec->gate);
        pRec->cv.wait(lock, [pRec] { return pRec->bResumed; });
    }
    ThreadFunc pfn = pRec->pfn;
    void* pArg = pRec->pArg;
    bool bJoinable = pRec->bJoinable;
    if (!bJoinable && pRec->nRefs.fetch_sub(1) == 1)
        delete pRec;
    pfn(pArg);
    return nullptr;
}

}  // namespace

ThreadHandle ThreadCreateSuspended(ThreadFunc pfn, void* pArg, bool bJoinable, size_t nStackBytes)
{
    if (TakeInjectedThreadFailure())
        return nullptr;
    ThreadRec* pRec = new (std::nothrow) ThreadRec;
    if (pRec == nullptr)
        return nullptr;
    pRec->pfn = pfn;
    pRec->pArg = pArg;
    pRec->bJoinable = bJoinable;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, std::max(nStackBytes, static_cast<size_t>(PTHREAD_STACK_MIN)));
    pthread_attr_setdetachstate(&attr, bJoinable ? PTHREAD_CREATE_JOINABLE : PTHREAD_CREATE_DETACHED);
    int rc = pthread_create(&pRec->thread, &attr, Trampoline, pRec);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete pRec;
        return nullptr;
    }
    return pRec;
}

void ThreadSetAboveNormal(ThreadHandle h)
{
    // Linux gives each thread its own nice value; lowering it needs privilege, so a
    // refusal simply leaves the thread at normal priority.
    while (!h->bTidKnown.load())
        sched_yield();
    setpriority(PRIO_PROCESS, static_cast<id_t>(h->tid.load()), -1);
}

void ThreadResume(ThreadHandle h)
{
    {
        std::lock_guard<std::mutex> lock(h->gate);
        h->bResumed = true;
    }
    h->cv.notify_one();
    if (!h->bJoinable && h->nRefs.fetch_sub(1) == 1)
        delete h;
}

void ThreadJoin(ThreadHandle h)
{
    pthread_join(h->thread, nullptr);
    delete h;
}

void ThreadSetMinTimerSlack() { prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }

void SleepMs(int nMillis)
{
    timespec ts{nMillis / 1000, static_cast<long>(nMillis % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

uint64_t MonotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ULL + static_cast<uint64_t>(ts.tv_nsec);
}

void SleepUntilNs(uint64_t ullDeadline)
{
    timespec ts{static_cast<time_t>(ullDeadline / 1000000000ULL), static_cast<long>(ullDeadline % 1000000000ULL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

}  // namespace plat
