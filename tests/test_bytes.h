// Small helpers the suites share for building requests and checking bytes: little-endian
// fields as bytes, reproducible random content, and comparisons that report briefly.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

constexpr uint64_t k4GiB = 0x100000000ULL;

// v as width little-endian bytes.
inline std::string LE(uint64_t v, int width)
{
    std::string s;
    for (int i = 0; i < width; ++i)
        s += static_cast<char>(v >> (8 * i));
    return s;
}

inline std::string U32(uint32_t v) { return LE(v, 4); }
inline std::string U64(uint64_t v) { return LE(v, 8); }

// The little-endian field of width bytes at offset at (throws when s is too short).
inline uint64_t GetLE(const std::string& s, size_t at, int width)
{
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(s.at(at + i));
    return v;
}

inline uint32_t GetU32(const std::string& s, size_t at) { return static_cast<uint32_t>(GetLE(s, at, 4)); }

// n bytes that depend only on the seed.
inline std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen());
    return s;
}

// True when part occurs in text.
inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Equal bytes; on a difference, the sizes and the first differing offset instead of two
// megabytes of dump.
inline ::testing::AssertionResult SameBytes(const std::string& got, const std::string& want)
{
    if (got == want)
        return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        ++i;
    return ::testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                         << ", first difference at " << i;
}
