// Frames on the wire, encoded and decoded without a socket: sync byte 0xA5, LEN (16-bit
// little-endian: the command byte, the payload and the checksum), the command byte, the
// payload and a checksum of 0x3E plus every byte from the command to the payload's end.
// The daemon's receive loop and the STB-side client both frame through here.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t kSyncByte = 0xA5;
constexpr int kFrameHeader = 3;          // sync byte and LEN
constexpr int kPayloadOffset = 4;        // after the header and the command byte
constexpr int kFrameOverhead = 5;        // header, command byte and checksum
constexpr int kMaxPayload = 65533;       // LEN 0xFFFF less the command byte and checksum
constexpr int kMaxFrame = kMaxPayload + kFrameOverhead;

// 0x3E plus the sum of the bytes, modulo 256.
uint8_t CalcChecksum(const uint8_t* pBytes, size_t nCount);

enum class FrameScan {
    Whole,     // a checked frame starts the bytes
    Drop,      // the first nBytes cannot start a frame: drop them and look again
    NeedMore,  // the bytes are the start of a frame: nBytes more are needed to go on
};

// Why bytes are dropped.
enum class FrameFault {
    None,
    NoSync,       // the first byte is not the sync byte: that byte goes
    BadLength,    // LEN below 2: the sync byte and LEN go
    BadChecksum,  // the whole frame goes
};

struct CFrameView {
    FrameScan eScan = FrameScan::NeedMore;
    size_t nBytes = 1;  // Whole: the frame's size; Drop: bytes to drop; NeedMore: bytes missing
    FrameFault eFault = FrameFault::None;
    uint16_t usLength = 0;  // LEN, once the header is there
    // Whole: the command byte and the payload, which points into the scanned bytes.
    uint8_t ucCommand = 0;
    const uint8_t* pPayload = nullptr;
    size_t nPayload = 0;
};

// Looks at the start of the bytes and says what they hold. Never reads past nCount; a
// NeedMore asks only for the bytes of the step at hand (the sync byte, then LEN, then
// the body), so a reader that fetches exactly that never takes a byte of the next frame.
CFrameView ScanFrame(const uint8_t* pBytes, size_t nCount);

// Completes a frame whose payload of nPayload bytes is already at pFrame + 4: writes the
// sync byte, LEN and the command byte before it and the checksum after it. pFrame holds
// at least nPayload + 5 bytes. The frame's size, or 0 (nothing written) when the payload
// is longer than kMaxPayload.
size_t SealFrame(uint8_t* pFrame, uint8_t ucCommand, size_t nPayload);
