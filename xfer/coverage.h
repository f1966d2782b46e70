// Which bytes of an upload have arrived, whatever order the blocks came in: the upload is
// complete once every byte of its announced size is covered. STBs send their blocks in
// order, so the common case is a single count of the bytes covered from the start; blocks
// that leave a gap behind them are kept as separate ranges, at most kMaxRanges of them,
// so that an STB sending every other byte cannot make the list grow without end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class CCoverage {
public:
    static constexpr size_t kMaxRanges = 4096;

    // Starts over for an upload of ullSize bytes, none of them covered.
    void Reset(uint64_t ullSize);
    // Whether the block [ullOffset, ullOffset + ullCount) can be recorded: always, unless
    // it would be one more separate range while kMaxRanges are kept. A block refused so is
    // not to be stored (nor counted as taken); the STB may send it again once the gaps
    // before it are filled.
    bool CanAdd(uint64_t ullOffset, uint64_t ullCount) const;
    // Records the block, which must lie within the size and be one CanAdd accepted.
    void Add(uint64_t ullOffset, uint64_t ullCount);
    bool Complete() const { return m_ullFront >= m_ullSize; }
    // The bytes covered from the start without a gap.
    uint64_t Front() const { return m_ullFront; }
    // The separate ranges kept beyond the front.
    size_t Ranges() const { return m_Ranges.size(); }

private:
    uint64_t m_ullSize = 0;
    uint64_t m_ullFront = 0;
    // Ranges [first, second) beyond the front, sorted, apart from each other and from the
    // front (a range that touches another is merged with it).
    std::vector<std::pair<uint64_t, uint64_t>> m_Ranges;
};
