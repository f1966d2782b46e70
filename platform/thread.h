// Threads created suspended: the new thread waits at a start gate until ThreadResume,
// so that its creator can store the handle where the thread will look for it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

struct ThreadRec;
using ThreadHandle = ThreadRec*;

using ThreadFunc = int (*)(void* pArg);

// Stack sizes. A session thread and its copy or move worker keep their buffers on the
// heap and walk folders without recursion: their deepest call chain stays below 16 KiB,
// in the sanitizer build too, so a small stack leaves ample room, and a thousand idle
// sessions reserve an eighth of the address space that 2 MiB stacks would.
constexpr size_t kDefaultStackBytes = 2 * 1024 * 1024;
constexpr size_t kSessionStackBytes = 256 * 1024;

// Creates a thread that runs pfn(pArg) once resumed, on a stack of nStackBytes. A
// detached thread releases its handle itself when it ends (its owner must not use the
// handle after that); a joinable one is released by ThreadJoin. Returns null when no
// thread can be created.
ThreadHandle ThreadCreateSuspended(ThreadFunc pfn, void* pArg, bool bJoinable,
                                   size_t nStackBytes = kDefaultStackBytes);
// Best effort: raises the thread above normal priority.
void ThreadSetAboveNormal(ThreadHandle h);
// Opens the start gate.
void ThreadResume(ThreadHandle h);
// Waits for a joinable thread to end and releases its handle.
void ThreadJoin(ThreadHandle h);

// Makes the calling thread's sleeps as short as the system allows (the 1 ms pacing
// sleep of a download lasts close to 1 ms).
void ThreadSetMinTimerSlack();
void SleepMs(int nMillis);
// A monotonic clock in nanoseconds, and a sleep until a moment of it.
uint64_t MonotonicNs();
void SleepUntilNs(uint64_t ullDeadline);

// Test hook: makes the next n thread creations fail, as a system out of threads would.
void ThreadFailNextCreations(int n);

}  // namespace plat
