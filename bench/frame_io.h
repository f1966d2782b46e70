// Frames as an STB sends and reads them: A5, LEN (u16 LE = 1 + payload + 1), command,
// payload, checksum (0x3E + command + payload bytes, modulo 256). The reader takes a
// stream of replies from one connection and checks every frame it hands out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "stb_client.h"

constexpr size_t kFrameOverhead = 5;     // A5, LEN, command, checksum
constexpr size_t kMaxPayload = 65533;    // LEN 0xFFFF
constexpr size_t kDataBlock = 32768;     // data bytes of a full 0xD3 / 0xD6 frame

// Sum of the bytes, not reduced.
uint64_t ByteSum(const uint8_t* p, size_t n);

void PutLE(uint8_t* p, uint64_t ullValue, int nWidth);
uint64_t GetLE(const uint8_t* p, int nWidth);

// A payload under construction.
class CPayload {
public:
    CPayload& U8(uint8_t uc);
    CPayload& LE(uint64_t ullValue, int nWidth);
    // The bytes of the string and its terminating 0.
    CPayload& Str(const std::string& str);
    CPayload& Bytes(const uint8_t* p, size_t n);
    const std::vector<uint8_t>& Data() const { return m_Bytes; }

private:
    std::vector<uint8_t> m_Bytes;
};

// The whole frame around a payload.
std::vector<uint8_t> MakeFrame(uint8_t ucCommand, const std::vector<uint8_t>& payload);

// One received frame. The payload stays valid until the next call of Next.
struct RxFrame {
    uint8_t ucCommand = 0;
    const uint8_t* pPayload = nullptr;
    size_t nPayload = 0;
    uint64_t ullPayloadSum = 0;  // ByteSum of the payload, computed while checking
};

class CFrameReader {
public:
    explicit CFrameReader(int fd, size_t nBuffer = 512 * 1024);
    // The next frame, its sync byte, length and checksum checked. 0, or -1 with the
    // reason in Error() (the connection failed or timed out, or the frame is broken).
    int Next(RxFrame& frame);
    const std::string& Error() const { return m_strError; }

private:
    int Fill(size_t nWanted);

    int m_fd;
    std::vector<uint8_t> m_Buf;
    size_t m_nStart = 0;
    size_t m_nEnd = 0;
    std::string m_strError;
};

// Sends the request and reads one reply; the reply must carry ucReply and at least
// nMinPayload bytes. 0, or -1 with the reason in strError.
int Exchange(int fd, CFrameReader& reader, uint8_t ucRequest, const CPayload& payload, uint8_t ucReply,
             size_t nMinPayload, RxFrame& reply, std::string& strError);

// One STB connection to the daemon with its reader; Exchange leaves the reply in f and
// the reason of a failure in strError.
struct CStbSession {
    CStbSession(uint16_t usPort, int nRecvTimeoutMs, size_t nBuffer = 512 * 1024)
        : conn(usPort, nRecvTimeoutMs), reader(conn.fd, nBuffer)
    {
    }
    bool Connected() const { return conn.fd >= 0; }
    int Exchange(uint8_t ucRequest, const CPayload& payload, uint8_t ucReply, size_t nMinPayload)
    {
        return ::Exchange(conn.fd, reader, ucRequest, payload, ucReply, nMinPayload, f, strError);
    }

    CConn conn;
    CFrameReader reader;
    RxFrame f;
    std::string strError;
};
