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

// Reads the rest of a frame whose header is in. The body may take LEN / 1024 + 2 reads;
// a frame still incomplete after them is given up. 0 once the frame is whole, else
// Receive's result for the end. A link that has nothing yet costs no read.
int ReceiveBody(CPacket& packet, CSess& sess)
{
    const int nLen = packet.m_usLength;
    if (packet.m_nBodyReadsLeft < 0)
        packet.m_nBodyReadsLeft = nLen / 1024 + 2;
    int nLast = 1;
    while (packet.m_nSize - kFrameHeader < nLen && packet.m_nBodyReadsLeft > 0) {
        int nWant = nLen + kFrameHeader - packet.m_nSize;
        nLast = sess.Link().Recv(packet.m_Buf + packet.m_nSize, nWant, RecvWait::WithinFrame, sess.m_nBodyTimeoutMs);
        if (nLast == kLinkIdle)
            return kRecvIdle;
        --packet.m_nBodyReadsLeft;
        if (nLast <= 0) {
            plat::Trace("Receive> recv(%d) = %d\n", nWant, nLast);
            break;
        }
        packet.m_nSize += nLast;
    }
    plat::Trace("m_usLength = %d\n", nLen);
    packet.m_nBodyReadsLeft = -1;
    if (packet.m_nSize != nLen + kFrameHeader) {
        plat::Trace("Receive> DataLen = %d(%d)\n", packet.m_nSize, nLen + kFrameHeader);
        return nLast == 0 ? 1 : -1;
    }
    return 0;
}

int ReceiveFrame(CPacket& packet, CSess& sess)
{
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
            packet.m_nBodyReadsLeft = -1;
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
        // can belong to the frame after this one. Every wait runs under its own time-out:
        // 10 s for a frame to begin, 5 s for each read within it.
        int n;
        if (packet.m_nSize == 0)
            n = sess.Link().Recv(packet.m_Buf, kFrameHeader, RecvWait::FrameStart, sess.m_nWaitTimeoutMs);
        else
            n = sess.Link().Recv(packet.m_Buf + packet.m_nSize, static_cast<int>(view.nBytes), RecvWait::WithinFrame,
                                 sess.m_nBodyTimeoutMs);
        if (n == kLinkIdle)
            return kRecvIdle;
        if (n <= 0)
            return n == 0 ? 1 : -1;
        packet.m_nSize += n;
    }
}

}  // namespace

int Receive(CPacket& packet, CSess& sess)
{
    if (!packet.m_bResume) {
        packet.m_nSize = 0;
        packet.m_nBodyReadsLeft = -1;
    }
    const int rc = ReceiveFrame(packet, sess);
    packet.m_bResume = rc == kRecvIdle;
    return rc;
}

int Send(CPacket& packet, CSess& sess)
{
    plat::Trace("m_nSize = %d\n", packet.m_nSize);
    if (sess.Link().Send(packet.m_Buf, static_cast<size_t>(packet.m_nSize)) != 0)
        return -1;
    sess.m_Activity.CountSent(static_cast<uint64_t>(packet.m_nSize));
    return 0;
}
