// One session's frame buffer (net/frame.h gives the layout). Each session owns one
// CPacket and uses it for the request and for the reply built in place over it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/frame.h"

class CSess;

struct CPacket {
    uint8_t m_Buf[kMaxFrame];
    uint16_t m_usLength = 0;  // the frame's LEN field
    int m_nSize = 0;          // bytes received so far, or the frame's total size (LEN + 3)
    // Where Receive stopped when the link had nothing more yet (kRecvIdle): the next call
    // goes on with the frame begun, its body's reads left counted as before (-1: the
    // body has not begun).
    bool m_bResume = false;
    int m_nBodyReadsLeft = -1;

    uint8_t Command() const { return m_Buf[3]; }
    uint8_t* Payload() { return m_Buf + kPayloadOffset; }
    const uint8_t* Payload() const { return m_Buf + kPayloadOffset; }
    // The payload length n = LEN - 2 of a received frame.
    int PayloadLength() const { return static_cast<int>(m_usLength) - 2; }
    // True when the payload holds at least nMinLength (1 or more) bytes and its last byte
    // is 0: what a request ending with a path needs.
    bool EndsWithZero(int nMinLength) const
    {
        const int n = PayloadLength();
        return n >= nMinLength && Payload()[n - 1] == 0;
    }
};

// A little-endian field of nWidth bytes at nOffset of the payload. Bytes past the
// payload's end read as 0, never as what an earlier frame left in the buffer.
uint64_t PayloadField(const CPacket& packet, int nOffset, int nWidth);

// Builds a frame with the reply byte and payload (or, when pPayload is null, the bytes
// already at offset 4). 0, or -1 leaving the packet unchanged when the payload is longer
// than 65,533 bytes.
int BuildReply(CPacket& packet, uint8_t ucReply, const uint8_t* pPayload, int nPayloadLength);

// What Receive returns when the session's link has nothing more yet and never waits
// (a memory link): what came of a frame stays in the packet for the next call.
constexpr int kRecvIdle = 2;

// Reads one frame through the session's link, fetching exactly the bytes that ScanFrame
// asks for, so nothing of the next frame is read. 0: a checked frame is in the buffer;
// 1: the peer closed the connection; -1: a read failed or timed out, or the body stayed
// incomplete within its read budget (LEN / 1024 + 2 reads); kRecvIdle: see above.
int Receive(CPacket& packet, CSess& sess);

// Sends the m_nSize bytes of the frame through the session's link. 0 when all were
// accepted; -1 when the connection failed or the send time-out passed, and the
// connection is then shut down.
int Send(CPacket& packet, CSess& sess);
