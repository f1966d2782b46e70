// One frame: sync byte 0xA5, a 16-bit little-endian length LEN, the command byte, the
// payload and an additive checksum. Each session owns one CPacket and uses it for the
// request and for the reply built in place over it.
#pragma once

#include <cstddef>
#include <cstdint>

class CSess;

constexpr uint8_t kSyncByte = 0xA5;
constexpr int kMaxFrame = 65538;          // LEN 0xFFFF + 3
constexpr int kMaxReplyPayload = 65533;   // LEN 0xFFFF - 2
constexpr int kPayloadOffset = 4;

struct CPacket {
    uint8_t m_Buf[kMaxFrame];
    uint16_t m_usLength = 0;  // the frame's LEN field
    int m_nSize = 0;          // bytes received so far, or the frame's total size (LEN + 3)

    uint8_t Command() const { return m_Buf[3]; }
    uint8_t* Payload() { return m_Buf + kPayloadOffset; }
    // The payload length n = LEN - 2 of a received frame.
    int PayloadLength() const { return static_cast<int>(m_usLength) - 2; }
};

// A little-endian field of nWidth bytes at nOffset of the payload. Bytes past the
// payload's end read as 0, never as what an earlier frame left in the buffer.
uint64_t PayloadField(const CPacket& packet, int nOffset, int nWidth);

// 0x3E plus the sum of the bytes, modulo 256.
uint8_t CalcChecksum(const uint8_t* pBytes, size_t nCount);

// Builds a frame with the reply byte and payload (or, when pPayload is null, the bytes
// already at offset 4). 0, or -1 leaving the packet unchanged when the payload is longer
// than 65,533 bytes.
int BuildReply(CPacket& packet, uint8_t ucReply, const uint8_t* pPayload, int nPayloadLength);

// Reads one frame from the session's socket. 0: a checked frame is in the buffer;
// 1: the peer closed the connection; -1: a read failed or timed out, or the body stayed
// incomplete.
int Receive(CPacket& packet, CSess& sess);

// Sends the m_nSize bytes of the frame. 0 when all were accepted; -1 when the connection
// failed or the send time-out passed, and the connection is then shut down.
int Send(CPacket& packet, CSess& sess);
