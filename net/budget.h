// The memory that every session's transfer buffers draw from together (whole files held
// for download, buffered uploads, listings, the entry lists of directory downloads), so
// that no host can take it all by opening many transfers. Owned by the session manager;
// any thread.
#pragma once

#include <atomic>
#include <cstdint>

// All transfer buffers together stay within this many bytes.
constexpr uint64_t kTransferBudget = 256ull << 20;

class CBufferBudget {
public:
    explicit CBufferBudget(uint64_t ullLimit = kTransferBudget) : m_ullLimit(ullLimit) {}

    // Sets the limit; only before any buffer is taken.
    void SetLimit(uint64_t ullLimit) { m_ullLimit = ullLimit; }
    // Counts n bytes as taken; false (nothing taken) when that would pass the limit.
    bool Take(uint64_t n);
    // Gives back what Take took.
    void Give(uint64_t n) { m_ullUsed.fetch_sub(n); }
    uint64_t Used() const { return m_ullUsed.load(); }

private:
    uint64_t m_ullLimit;
    std::atomic<uint64_t> m_ullUsed{0};
};
