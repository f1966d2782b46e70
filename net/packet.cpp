#include "net/packet.h"

#include <cstring>

#include "net/sess.h"
#include "platform/log.h"

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
    if (nPayloadLength < 0 || nPayloadLength > kMaxPayload)
        return -1;
    const size_t nPayload = static_cast<size_t>(nPayloadLength);
    if (pPayload != nullptr)
        memmove(packet.Payload(), pPayload, nPayload);
    packet.m_nSize = static_cast<int>(SealFrame(packet.m_Buf, ucReply, nPayload));
    packet.m_usLength = static_cast<uint16_t>(nPayloadLength + 2);
    return 0;
}

namespace {

// Every wait runs under its own time-out: 10 s for a frame to begin, 5 s for each read
// within it. The socket keeps a time-out once set, so only a change is passed on; a read
// within a frame first takes what has arrived already and sets its time-out only when it
// has to wait, so a frame that arrives whole costs two reads and no change of time-out.
void SetRecvTimeout(CSess& sess, int nMillis)
{
    if (sess.m_nRecvTimeoutSet == nMillis)
        return;
    int rc = plat::SockSetRecvTimeout(sess.m_hSock, nMillis);
    if (rc != 0)
        plat::Trace("setsockopt(SO_RCVTIMEO, %d)=%d\n", nMillis, rc);
    sess.m_nRecvTimeoutSet = rc == 0 ? nMillis : 0;
}

// One read within a frame: what has arrived, else a wait of up to the body time-out.
// SockRecv's result.
int ReadWithin(CSess& sess, uint8_t* pTo, int nWant)
{
    const int n = plat::SockRecvNoWait(sess.m_hSock, pTo, nWant);
    if (n != plat::kSockWouldWait)
        return n;
    SetRecvTimeout(sess, sess.m_nBodyTimeoutMs);
    return plat::SockRecv(sess.m_hSock, pTo, nWant);
}

// Reads the rest of a frame whose header is in. The body may take LEN / 1024 + 2 reads;
// a frame still incomplete after them is given up. 0, or Receive's result for the end.
int ReceiveBody(CPacket& packet, CSess& sess)
{
    const int nLen = packet.m_usLength;
    int nCalls = nLen / 1024 + 2;
    int nLast = 1;
    while (packet.m_nSize - kFrameHeader < nLen && nCalls-- > 0) {
        int nWant = nLen + kFrameHeader - packet.m_nSize;
        nLast = ReadWithin(sess, packet.m_Buf + packet.m_nSize, nWant);
        if (nLast <= 0) {
            plat::Trace("Receive> recv(%d) = %d\n", nWant, nLast);
            break;
        }
        packet.m_nSize += nLast;
    }
    plat::Trace("m_usLength = %d\n", nLen);
    if (packet.m_nSize != nLen + kFrameHeader) {
        plat::Trace("Receive> DataLen = %d(%d)\n", packet.m_nSize, nLen + kFrameHeader);
        return nLast == 0 ? 1 : -1;
    }
    return 0;
}

}  // namespace

int Receive(CPacket& packet, CSess& sess)
{
    packet.m_nSize = 0;
    for (;;) {
        const CFrameView view = ScanFrame(packet.m_Buf, static_cast<size_t>(packet.m_nSize));
        if (view.eScan == FrameScan::Whole) {
            sess.m_Activity.CountReceived(static_cast<uint64_t>(packet.m_nSize));
            return 0;
        }
        if (view.eScan == FrameScan::Drop) {
            // A bad checksum drops the frame silently; so does hunting past other bytes.
            if (view.eFault == FrameFault::BadLength)
                plat::Trace("BAD LEN or SYNC\n");
            const int nDrop = static_cast<int>(view.nBytes);
            memmove(packet.m_Buf, packet.m_Buf + nDrop, static_cast<size_t>(packet.m_nSize - nDrop));
            packet.m_nSize -= nDrop;
            continue;
        }
        if (packet.m_nSize >= kFrameHeader) {
            packet.m_usLength = view.usLength;
            if (int rc = ReceiveBody(packet, sess); rc != 0)
                return rc;
            continue;
        }
        // The sync byte and the two LEN bytes, which may arrive in pieces. The wait for a
        // frame to begin asks for all three at once: no frame is shorter, so none of them
        // can belong to the frame after this one.
        int n;
        if (packet.m_nSize == 0) {
            SetRecvTimeout(sess, sess.m_nWaitTimeoutMs);
            n = plat::SockRecv(sess.m_hSock, packet.m_Buf, kFrameHeader);
        } else {
            n = ReadWithin(sess, packet.m_Buf + packet.m_nSize, static_cast<int>(view.nBytes));
        }
        if (n <= 0)
            return n == 0 ? 1 : -1;
        packet.m_nSize += n;
    }
}

int Send(CPacket& packet, CSess& sess)
{
    plat::Trace("m_nSize = %d\n", packet.m_nSize);
    // A blocking send may stop early on this platform; a frame cut short would leave the
    // STB out of step for good, so the rest follows until the connection fails.
    if (plat::SockSendAll(sess.m_hSock, packet.m_Buf, static_cast<size_t>(packet.m_nSize)) == 0) {
        sess.m_Activity.CountSent(static_cast<uint64_t>(packet.m_nSize));
        return 0;
    }
    // The connection failed, or the STB did not take the frame within the send time-out.
    // Part of a frame may have left, so the connection is of no more use: shutting it down
    // ends the session at its next receive instead of leaving it to wait for the STB.
    plat::SockShutdown(sess.m_hSock);
    return -1;
}
