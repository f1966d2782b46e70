// What one session is doing, for the status the user sees: the kind of transfer, its path
// within the shared folder, bytes done against the total the protocol announced, and the
// bytes the connection carried. The session thread writes it as it works (the copy/move
// worker writes the bytes of its copy); the status sampler reads it at any time. The
// counters are plain relaxed atomics with one writer each, so the data path takes no lock;
// only the path, set when a command begins, is guarded.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

enum class StbActivity : uint8_t {
    Idle,
    Listing,
    Downloading,
    Uploading,
    DirDownload,
    DirUpload,
    Copying,
    Moving,
};

// The activity's name as the status page and the dialog print it ("downloading").
const char* ActivityName(StbActivity eActivity);

// What the sampler reads of one session at one moment.
struct CActivityView {
    StbActivity eActivity = StbActivity::Idle;
    std::string strPath;       // within the shared folder, '/' first; empty when idle
    uint64_t ullDone = 0;      // bytes of the current transfer done so far
    uint64_t ullTotal = 0;     // its announced size; 0 when the protocol gives none
    uint64_t ullSent = 0;      // bytes the session has sent since it began
    uint64_t ullReceived = 0;  // bytes it has received
};

class CSessActivity {
public:
    // A transfer or command begins: its kind, its path within the shared folder and its
    // total (0: none announced). Done starts at 0. Session thread.
    void Begin(StbActivity eActivity, std::string_view strPath, uint64_t ullTotal);
    // The transfer goes back to idle (its path stays shown until the next one begins, so
    // that a finished transfer can still be told in the event list).
    void End() { m_eActivity.store(StbActivity::Idle, std::memory_order_relaxed); }
    // Bytes of the current transfer done: added to, or set outright (a walk that measures
    // its total as it goes). One writer at a time.
    void AddDone(uint64_t n) { Bump(m_ullDone, n); }
    void SetDone(uint64_t n) { m_ullDone.store(n, std::memory_order_relaxed); }
    // Bytes of a data stream or block have moved, up to ullEnd in their file: a single
    // file's progress is how far into it the transfer has come (an STB reads and writes
    // its files in order), a directory transaction's is the sum over its files.
    void Moved(uint64_t ullEnd, uint64_t n)
    {
        const StbActivity e = Activity();
        if (e == StbActivity::DirDownload || e == StbActivity::DirUpload)
            AddDone(n);
        else
            SetDone(ullEnd);
    }
    void SetTotal(uint64_t n) { m_ullTotal.store(n, std::memory_order_relaxed); }
    // Bytes of whole frames sent and received. Session thread only.
    void CountSent(uint64_t n) { Bump(m_ullSent, n); }
    void CountReceived(uint64_t n) { Bump(m_ullReceived, n); }

    // The counter of a copy's bytes, for the copy/move worker, which writes it alone
    // while the operation runs.
    std::atomic<uint64_t>& DoneCounter() { return m_ullDone; }

    StbActivity Activity() const { return m_eActivity.load(std::memory_order_relaxed); }
    // Any thread.
    CActivityView Read() const;

private:
    // One writer: a load and a store, no locked instruction on the data path.
    static void Bump(std::atomic<uint64_t>& counter, uint64_t n)
    {
        counter.store(counter.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
    }

    std::atomic<StbActivity> m_eActivity{StbActivity::Idle};
    std::atomic<uint64_t> m_ullDone{0};
    std::atomic<uint64_t> m_ullTotal{0};
    std::atomic<uint64_t> m_ullSent{0};
    std::atomic<uint64_t> m_ullReceived{0};
    mutable std::mutex m_PathLock;  // guards m_strPath
    std::string m_strPath;
};
