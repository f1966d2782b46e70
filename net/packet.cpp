#include "net/packet.h"

#include <cstring>

#include "net/sess.h"
#include "net/wire.h"
#include "platform/log.h"

uint8_t CalcChecksum(const uint8_t* pBytes, size_t nCount)
{
    // A plain byte sum: the compiler vectorises it over a 32 KiB data frame.
    uint32_t ulSum = 0x3E;
    for (size_t i = 0; i < nCount; ++i)
        ulSum += pBytes[i];
    return static_cast<uint8_t>(ulSum);
}

uint64_t PayloadField(const CPacket& packet, int nOffset, int nWidth)
{
    const int nPayload = packet.PayloadLength();
    uint64_t ullValue = 0;
    for (int i = nWidth - 1; i >= 0; --i) {
        int nAt = nOffset + i;
        uint8_t b = nAt < nPayload ? packet.m_Buf[kPayloadOffset + nAt] : 0;
        ullValue = (ullValue << 8) | b;
    }
    return ullValue;
}

int BuildReply(CPacket& packet, uint8_t ucReply, const uint8_t* pPayload, int nPayloadLength)
{
    if (nPayloadLength < 0 || nPayloadLength > kMaxReplyPayload)
        return -1;
    packet.m_usLength = static_cast<uint16_t>(nPayloadLength + 2);
    PutU16LE(packet.m_Buf + 1, packet.m_usLength);
    packet.m_Buf[0] = kSyncByte;
    packet.m_Buf[3] = ucReply;
    if (pPayload != nullptr)
        memmove(packet.m_Buf + kPayloadOffset, pPayload, static_cast<size_t>(nPayloadLength));
    packet.m_Buf[packet.m_usLength + 2] = CalcChecksum(packet.m_Buf + 3, packet.m_usLength - 1u);
    packet.m_nSize = packet.m_usLength + 3;
    return 0;
}

// Every wait runs under its own time-out: 10 s for a frame to begin, 5 s for each read
// within it. The socket keeps a time-out once set, so only a change is passed on.
static void SetRecvTimeout(CSess& sess, int nMillis)
{
    if (sess.m_nRecvTimeoutSet == nMillis)
        return;
    int rc = plat::SockSetRecvTimeout(sess.m_hSock, nMillis);
    if (rc != 0)
        plat::Trace("setsockopt(SO_RCVTIMEO, %d)=%d\n", nMillis, rc);
    sess.m_nRecvTimeoutSet = rc == 0 ? nMillis : 0;
}

int Receive(CPacket& packet, CSess& sess)
{
    plat::Socket s = sess.m_hSock;
    packet.m_nSize = 0;
    for (;;) {
        // Wait for a sync byte; hunting goes on byte by byte with no limit of passes.
        SetRecvTimeout(sess, sess.m_nWaitTimeoutMs);
        int n = plat::SockRecv(s, packet.m_Buf, 1);
        if (n == 0)
            return 1;
        if (n != 1)
            return -1;
        if (packet.m_Buf[0] != kSyncByte)
            continue;

        packet.m_nSize = 1;
        SetRecvTimeout(sess, sess.m_nBodyTimeoutMs);
        // The two LEN bytes may arrive in two segments: wait for both.
        while (packet.m_nSize < 3) {
            n = plat::SockRecv(s, packet.m_Buf + packet.m_nSize, 3 - packet.m_nSize);
            if (n <= 0)
                return n == 0 ? 1 : -1;
            packet.m_nSize += n;
        }
        packet.m_usLength = GetU16LE(packet.m_Buf + 1);
        const int nLen = packet.m_usLength;
        if (nLen < 2) {
            plat::Trace("BAD LEN or SYNC\n");
            packet.m_nSize = 0;
            continue;
        }

        int nCalls = nLen / 1024 + 2;
        int nLast = 1;
        while (packet.m_nSize - 3 < nLen && nCalls-- > 0) {
            int nWant = nLen + 3 - packet.m_nSize;
            nLast = plat::SockRecv(s, packet.m_Buf + packet.m_nSize, nWant);
            if (nLast <= 0) {
                plat::Trace("Receive> recv(%d) = %d\n", nWant, nLast);
                break;
            }
            packet.m_nSize += nLast;
        }
        plat::Trace("m_usLength = %d\n", nLen);
        if (packet.m_nSize != nLen + 3) {
            plat::Trace("Receive> DataLen = %d(%d)\n", packet.m_nSize, nLen + 3);
            return nLast == 0 ? 1 : -1;
        }
        if (CalcChecksum(packet.m_Buf + 3, static_cast<size_t>(nLen - 1)) == packet.m_Buf[nLen + 2])
            return 0;
        packet.m_nSize = 0;  // a bad checksum drops the frame silently
    }
}

int Send(CPacket& packet, CSess& sess)
{
    plat::Trace("m_nSize = %d\n", packet.m_nSize);
    // A blocking send may stop early on this platform; a frame cut short would leave the
    // STB out of step for good, so the rest follows until the connection fails.
    if (plat::SockSendAll(sess.m_hSock, packet.m_Buf, static_cast<size_t>(packet.m_nSize)) == 0)
        return 0;
    // The connection failed, or the STB took nothing for the whole send time-out. Part of
    // a frame may have left, so the connection is of no more use: shutting it down ends
    // the session at its next receive instead of leaving it to wait for the STB.
    plat::SockShutdown(sess.m_hSock);
    return -1;
}
