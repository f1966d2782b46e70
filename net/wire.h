// Integers on the wire: little-endian, packed and unaligned. Built and read byte by
// byte, never by casting structures over the frame.
#pragma once

#include <cstdint>

inline uint16_t GetU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t GetU32LE(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t GetU64LE(const uint8_t* p)
{
    return static_cast<uint64_t>(GetU32LE(p)) | (static_cast<uint64_t>(GetU32LE(p + 4)) << 32);
}

// A field of nWidth bytes, 4 or 8: the two widths of sizes and offsets.
inline uint64_t GetLE(const uint8_t* p, int nWidth) { return nWidth == 4 ? GetU32LE(p) : GetU64LE(p); }

// Writes the low nWidth bytes of v.
inline void PutLE(uint8_t* p, uint64_t v, int nWidth)
{
    for (int i = 0; i < nWidth; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void PutU16LE(uint8_t* p, uint16_t v) { PutLE(p, v, 2); }
inline void PutU32LE(uint8_t* p, uint32_t v) { PutLE(p, v, 4); }
inline void PutU64LE(uint8_t* p, uint64_t v) { PutLE(p, v, 8); }

// Big-endian fields of the ".stb" file header.
inline uint16_t GetU16BE(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
