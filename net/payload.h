// Cursors over a frame's payload: the handlers read a request's fields and write a
// reply's through them, never by offsets and casts of their own. Every field goes through
// the little-endian helpers (net/wire.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct CPacket;

// Bytes of a payload that a reader handed out; they stay in the frame they came from.
struct CPayloadBytes {
    const uint8_t* pBytes = nullptr;
    size_t nCount = 0;
};

// Reads a payload's fields in order. A field that runs past the payload's end reads its
// missing bytes as 0 (never what an earlier frame left in the buffer), and every field
// after it reads as 0 or empty: a short request is answered as if it had been padded
// with zeros. The reader borrows the bytes: they must outlive it.
class CPayloadReader {
public:
    // The payload of a received frame (LEN - 2 bytes).
    explicit CPayloadReader(const CPacket& packet);
    CPayloadReader(const uint8_t* pBytes, size_t nLength);

    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    uint64_t U64();
    // A little-endian field of nWidth bytes (1 to 8).
    uint64_t LE(int nWidth);
    // The bytes up to the next 0, which is taken too; a path whose 0 is missing ends
    // with the payload. Empty once the payload is used up.
    std::string Path();
    // Everything not yet read; the reader is then at the end.
    CPayloadBytes Rest();
    // The bytes not yet read.
    size_t Left() const { return m_nLength - m_nAt; }

private:
    const uint8_t* m_pBytes;
    size_t m_nLength;
    size_t m_nAt = 0;
};

// Writes a reply's fields in order into a frame's payload, from its first byte. A write
// that would pass the most a frame can carry (kMaxPayload) writes nothing and is
// refused, and so is every write after it: a reply is either whole or not at all.
class CPayloadWriter {
public:
    explicit CPayloadWriter(CPacket& packet);

    bool U8(uint8_t ucValue);
    bool U32(uint32_t ulValue);
    bool U64(uint64_t ullValue);
    // The low nWidth bytes (1 to 8) of the value, little-endian.
    bool LE(uint64_t ullValue, int nWidth);
    bool Bytes(const uint8_t* pBytes, size_t nCount);
    // The text and a terminating 0.
    bool Path(std::string_view strPath);
    // Room for nCount bytes that the caller fills at once (a data block read straight
    // into the frame); null, and refused as above, when they do not fit.
    uint8_t* Claim(size_t nCount);

    // False once a write was refused.
    bool Ok() const { return m_bOk; }
    // The bytes written: the reply's payload length.
    int Length() const { return static_cast<int>(m_nAt); }

private:
    uint8_t* m_pBytes;
    size_t m_nAt = 0;
    bool m_bOk = true;
};
