#include "frame_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>

#include "stb_client.h"

uint64_t ByteSum(const uint8_t* p, size_t n)
{
    // 32-bit lanes cannot overflow within a block of 64 KiB bytes; the compiler
    // vectorises the inner loop.
    uint64_t ullSum = 0;
    while (n > 0) {
        const size_t nBlock = n < 65536 ? n : 65536;
        uint32_t ulSum = 0;
        for (size_t i = 0; i < nBlock; ++i)
            ulSum += p[i];
        ullSum += ulSum;
        p += nBlock;
        n -= nBlock;
    }
    return ullSum;
}

void PutLE(uint8_t* p, uint64_t ullValue, int nWidth)
{
    for (int i = 0; i < nWidth; ++i)
        p[i] = static_cast<uint8_t>(ullValue >> (8 * i));
}

uint64_t GetLE(const uint8_t* p, int nWidth)
{
    uint64_t ullValue = 0;
    for (int i = nWidth - 1; i >= 0; --i)
        ullValue = (ullValue << 8) | p[i];
    return ullValue;
}

CPayload& CPayload::U8(uint8_t uc)
{
    m_Bytes.push_back(uc);
    return *this;
}

CPayload& CPayload::LE(uint64_t ullValue, int nWidth)
{
    const size_t n = m_Bytes.size();
    m_Bytes.resize(n + static_cast<size_t>(nWidth));
    PutLE(m_Bytes.data() + n, ullValue, nWidth);
    return *this;
}

CPayload& CPayload::Str(const std::string& str)
{
    m_Bytes.insert(m_Bytes.end(), str.begin(), str.end());
    m_Bytes.push_back(0);
    return *this;
}

CPayload& CPayload::Bytes(const uint8_t* p, size_t n)
{
    m_Bytes.insert(m_Bytes.end(), p, p + n);
    return *this;
}

std::vector<uint8_t> MakeFrame(uint8_t ucCommand, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> frame(payload.size() + kFrameOverhead);
    frame[0] = 0xA5;
    PutLE(frame.data() + 1, payload.size() + 2, 2);
    frame[3] = ucCommand;
    if (!payload.empty())
        memcpy(frame.data() + 4, payload.data(), payload.size());
    frame.back() = static_cast<uint8_t>(0x3E + ucCommand + ByteSum(payload.data(), payload.size()));
    return frame;
}

CFrameReader::CFrameReader(int fd, size_t nBuffer) : m_fd(fd), m_Buf(nBuffer < 2 * 65538 ? 2 * 65538 : nBuffer) {}

// Makes at least nWanted bytes available from m_nStart on.
int CFrameReader::Fill(size_t nWanted)
{
    if (m_nStart + nWanted > m_Buf.size()) {
        memmove(m_Buf.data(), m_Buf.data() + m_nStart, m_nEnd - m_nStart);
        m_nEnd -= m_nStart;
        m_nStart = 0;
    }
    while (m_nEnd - m_nStart < nWanted) {
        ssize_t n = recv(m_fd, m_Buf.data() + m_nEnd, m_Buf.size() - m_nEnd, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_strError = n == 0 ? "the daemon closed the connection"
                                : std::string("receive failed: ") + strerror(errno);
            return -1;
        }
        m_nEnd += static_cast<size_t>(n);
    }
    return 0;
}

int CFrameReader::Next(RxFrame& frame)
{
    if (Fill(3) != 0)
        return -1;
    const uint8_t* p = m_Buf.data() + m_nStart;
    const size_t nLen = static_cast<size_t>(GetLE(p + 1, 2));
    if (p[0] != 0xA5 || nLen < 2) {
        char sz[96];
        snprintf(sz, sizeof(sz), "a reply frame starts with %02X, LEN %zu", p[0], nLen);
        m_strError = sz;
        return -1;
    }
    if (Fill(nLen + 3) != 0)
        return -1;
    p = m_Buf.data() + m_nStart;
    frame.ucCommand = p[3];
    frame.pPayload = p + 4;
    frame.nPayload = nLen - 2;
    frame.ullPayloadSum = ByteSum(frame.pPayload, frame.nPayload);
    const uint8_t ucSum = static_cast<uint8_t>(0x3E + frame.ucCommand + frame.ullPayloadSum);
    if (ucSum != p[nLen + 2]) {
        char sz[96];
        snprintf(sz, sizeof(sz), "bad checksum of a %02X frame: %02X, expected %02X", frame.ucCommand,
                 p[nLen + 2], ucSum);
        m_strError = sz;
        return -1;
    }
    m_nStart += nLen + 3;
    return 0;
}

int Exchange(int fd, CFrameReader& reader, uint8_t ucRequest, const CPayload& payload, uint8_t ucReply,
             size_t nMinPayload, RxFrame& reply, std::string& strError)
{
    const std::vector<uint8_t> frame = MakeFrame(ucRequest, payload.Data());
    if (SendAll(fd, frame.data(), frame.size()) != 0) {
        strError = std::string("send failed: ") + strerror(errno);
        return -1;
    }
    if (reader.Next(reply) != 0) {
        strError = reader.Error();
        return -1;
    }
    if (reply.ucCommand != ucReply || reply.nPayload < nMinPayload) {
        char sz[128];
        snprintf(sz, sizeof(sz), "request %02X: reply %02X with %zu payload bytes, expected %02X with %zu or more",
                 ucRequest, reply.ucCommand, reply.nPayload, ucReply, nMinPayload);
        strError = sz;
        return -1;
    }
    return 0;
}
