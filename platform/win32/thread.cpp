#include "platform/thread.h"

#include "platform/common/thread_faults.h"

#include <atomic>
#include <new>
#include <process.h>

#include "platform/win32/win.h"

#include <mmsystem.h>

namespace plat {

// The thread is created suspended (CREATE_SUSPENDED); ThreadResume lets it run. A
// detached thread's record is freed by the thread itself once it has read it, which it
// can only do after ThreadResume, the creator's last use of the record.
struct ThreadRec {
    HANDLE hThread = nullptr;
    ThreadFunc pfn = nullptr;
    void* pArg = nullptr;
    bool bJoinable = false;
};

namespace {

unsigned __stdcall Trampoline(void* p)
{
    ThreadRec* pRec = static_cast<ThreadRec*>(p);
    const ThreadFunc pfn = pRec->pfn;
    void* const pArg = pRec->pArg;
    if (!pRec->bJoinable)
        delete pRec;
    pfn(pArg);
    return 0;
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
    // The stack size is a reservation: a thousand idle sessions commit little of it.
    const uintptr_t h = _beginthreadex(nullptr, static_cast<unsigned>(nStackBytes), Trampoline, pRec,
                                       CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (h == 0) {
        delete pRec;
        return nullptr;
    }
    pRec->hThread = reinterpret_cast<HANDLE>(h);
    return pRec;
}

void ThreadSetAboveNormal(ThreadHandle h) { SetThreadPriority(h->hThread, THREAD_PRIORITY_ABOVE_NORMAL); }

void ThreadResume(ThreadHandle h)
{
    const HANDLE hThread = h->hThread;
    const bool bJoinable = h->bJoinable;
    ResumeThread(hThread);
    // From here on a detached thread owns (and frees) its record.
    if (!bJoinable)
        CloseHandle(hThread);
}

void ThreadJoin(ThreadHandle h)
{
    WaitForSingleObject(h->hThread, INFINITE);
    CloseHandle(h->hThread);
    delete h;
}

void ThreadSetMinTimerSlack()
{
    // The system timer runs at 1 ms while the daemon serves, so that the pacing sleep of
    // a download is close to 1 ms instead of a 15.6 ms tick. The request is counted per
    // call and ends with the process.
    timeBeginPeriod(1);
}

void SleepMs(int nMillis) { Sleep(nMillis < 0 ? 0 : static_cast<DWORD>(nMillis)); }

uint64_t MonotonicNs()
{
    LARGE_INTEGER freq, now;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&now);
    const uint64_t ullTicks = static_cast<uint64_t>(now.QuadPart);
    const uint64_t ullFreq = static_cast<uint64_t>(freq.QuadPart);
    return ullTicks / ullFreq * 1000000000ULL + ullTicks % ullFreq * 1000000000ULL / ullFreq;
}

void SleepUntilNs(uint64_t ullDeadline)
{
    for (;;) {
        const uint64_t ullNow = MonotonicNs();
        if (ullNow >= ullDeadline)
            return;
        // Whole milliseconds, rounded up: a sleep lasts at least as long as asked.
        const uint64_t ullMs = (ullDeadline - ullNow + 999999) / 1000000;
        Sleep(ullMs > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(ullMs));
    }
}

}  // namespace plat
