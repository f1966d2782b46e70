// Frames as the STB sees them, encoded and decoded without touching a socket: sync byte
// 0xA5, LEN (16-bit little-endian, 1 + payload + 1), command byte, payload, checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

constexpr size_t kStbMaxPayload = 65533;  // LEN 0xFFFF less the command and checksum bytes
constexpr size_t kStbFrameOverhead = 5;   // sync, LEN, command, checksum
constexpr size_t kStbMaxFrame = kStbMaxPayload + kStbFrameOverhead;

// One received frame. The payload points into the receiver's buffer and stays valid until
// the next receive.
struct CStbFrame {
    uint8_t ucCmd = 0;
    const uint8_t* pPayload = nullptr;
    size_t nLength = 0;
};

enum class FrameParse {
    Good,      // a checked frame starts the bytes
    NeedMore,  // the bytes so far are the start of a frame
    Bad,       // no sync byte, a LEN below 2, or a wrong checksum
};

// Looks at the start of the bytes. On Good fills the frame and nUsed (the frame's whole
// size); on Bad sets pszWhy to a short reason.
FrameParse ParseStbFrame(const uint8_t* pBytes, size_t nCount, CStbFrame& frame, size_t& nUsed,
                         const char*& pszWhy);

// A frame under construction: the payload is written in place (Payload()), then Seal()
// adds the header and the checksum around it.
class CStbFrameBuf {
public:
    CStbFrameBuf();
    CStbFrameBuf(const CStbFrameBuf&) = delete;
    CStbFrameBuf& operator=(const CStbFrameBuf&) = delete;

    uint8_t* Payload() { return m_pBuf.get() + 4; }
    // Completes the frame for a payload of nLength (at most kStbMaxPayload) bytes and
    // returns its whole size; 0 when the payload is too long.
    size_t Seal(uint8_t ucCmd, size_t nLength);
    const uint8_t* Bytes() const { return m_pBuf.get(); }

private:
    struct CFree {
        void operator()(uint8_t* p) const { delete[] p; }
    };
    std::unique_ptr<uint8_t[], CFree> m_pBuf;
};
