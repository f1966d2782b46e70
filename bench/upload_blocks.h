// The data of the upload measurements. Block k of an upload is slice k % kSlices of one
// pseudo-random buffer, so the file that arrives can be checked block by block. Each
// slice is kept as a whole FC_BIGFILE_DATA_UP_REQ frame, sealed once: sending a full block
// only writes its offset and the checksum's share of it, so that the measuring side costs
// one send call a block, neither a copy nor a pass over the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bench_files.h"
#include "net/frame.h"
#include "net/protocol.h"
#include "net/wire.h"

class CUploadBlocks {
public:
    static constexpr int kSlices = 16;
    static constexpr size_t kOffsetBytes = 8;  // the 64-bit offset in front of the data
    static constexpr size_t kMaxBlock = static_cast<size_t>(kMaxPayload) - kOffsetBytes;

    // nBlock: data bytes of a full block, at most kMaxBlock.
    explicit CUploadBlocks(size_t nBlock)
        : m_nBlock(nBlock), m_nFrame(nBlock + kOffsetBytes + kFrameOverhead), m_Frames(m_nFrame * kSlices),
          m_DataShare(kSlices)
    {
        for (int i = 0; i < kSlices; ++i) {
            uint8_t* pFrame = Frame(i);
            FillPattern(pFrame + kPayloadOffset + kOffsetBytes, nBlock, 0x5EED + static_cast<uint64_t>(i));
            SealFrame(pFrame, FC_BIGFILE_DATA_UP_REQ, kOffsetBytes + nBlock);
            // The checksum is a sum: the data's share stays when the offset changes.
            m_DataShare[i] = static_cast<uint8_t>(pFrame[m_nFrame - 1] - HeadSum(pFrame));
        }
    }

    size_t BlockSize() const { return m_nBlock; }
    // Block k's data bytes (its first Length(k) bytes are used).
    const uint8_t* Block(uint64_t k) const
    {
        return m_Frames.data() + Index(k) * m_nFrame + kPayloadOffset + kOffsetBytes;
    }
    // The length of block k of a file of ullSize bytes.
    size_t Length(uint64_t k, uint64_t ullSize) const
    {
        const uint64_t ullStart = k * m_nBlock;
        return static_cast<size_t>(ullSize - ullStart < m_nBlock ? ullSize - ullStart : m_nBlock);
    }
    uint64_t Count(uint64_t ullSize) const { return (ullSize + m_nBlock - 1) / m_nBlock; }

    // The sealed request frame of full block k at offset k × BlockSize(), valid until the
    // next call for another block of its slice; FrameSize() bytes.
    const uint8_t* FullFrame(uint64_t k)
    {
        uint8_t* pFrame = Frame(Index(k));
        PutU64LE(pFrame + kPayloadOffset, k * m_nBlock);
        pFrame[m_nFrame - 1] = static_cast<uint8_t>(HeadSum(pFrame) + m_DataShare[Index(k)]);
        return pFrame;
    }
    size_t FrameSize() const { return m_nFrame; }

private:
    static size_t Index(uint64_t k) { return static_cast<size_t>(k % kSlices); }
    uint8_t* Frame(size_t i) { return m_Frames.data() + i * m_nFrame; }
    // The checksum of the command byte and the offset alone.
    static uint8_t HeadSum(const uint8_t* pFrame) { return CalcChecksum(pFrame + kFrameHeader, 1 + kOffsetBytes); }

    size_t m_nBlock;
    size_t m_nFrame;
    std::vector<uint8_t> m_Frames;
    std::vector<uint8_t> m_DataShare;
};
