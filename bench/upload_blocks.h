// The data of the upload measurements. Block k of an upload is slice k % kSlices of one
// pseudo-random buffer: the client sends it as it is (no copy, no pass over it per
// block), the plain-write floor writes the very same bytes, and the file that arrives can
// be checked block by block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bench_files.h"
#include "frame_io.h"

class CUploadBlocks {
public:
    static constexpr int kSlices = 16;

    explicit CUploadBlocks(size_t nBlock) : m_nBlock(nBlock), m_Buf(nBlock * kSlices)
    {
        FillPattern(m_Buf.data(), m_Buf.size(), 0x5EED);
        for (int i = 0; i < kSlices; ++i)
            m_Sums.push_back(ByteSum(Slice(i), nBlock));
    }

    size_t BlockSize() const { return m_nBlock; }
    // Block k's bytes (its first Length(k) bytes are used) and their byte sum.
    const uint8_t* Block(uint64_t k) const { return Slice(static_cast<int>(k % kSlices)); }
    uint64_t Sum(uint64_t k, size_t nLength) const
    {
        return nLength == m_nBlock ? m_Sums[k % kSlices] : ByteSum(Block(k), nLength);
    }
    // The length of block k of a file of ullSize bytes.
    size_t Length(uint64_t k, uint64_t ullSize) const
    {
        const uint64_t ullStart = k * m_nBlock;
        return static_cast<size_t>(ullSize - ullStart < m_nBlock ? ullSize - ullStart : m_nBlock);
    }
    uint64_t Count(uint64_t ullSize) const { return (ullSize + m_nBlock - 1) / m_nBlock; }

private:
    const uint8_t* Slice(int i) const { return m_Buf.data() + static_cast<size_t>(i) * m_nBlock; }

    size_t m_nBlock;
    std::vector<uint8_t> m_Buf;
    std::vector<uint64_t> m_Sums;
};
