#include "net/reply.h"

#include "net/payload.h"
#include "net/sess.h"

void SendFrame(CSess& sess, uint8_t ucReply, const uint8_t* pPayload, int nLength)
{
    BuildReply(sess.m_Packet, ucReply, pPayload, nLength);
    Send(sess.m_Packet, sess);
}

void SendReply(CSess& sess, uint8_t ucReply, const uint8_t* pPayload, int nLength)
{
    SendFrame(sess, ucReply, pPayload, nLength);
    sess.m_nState = 4;
}

void SendReply(CSess& sess, uint8_t ucReply, const CPayloadWriter& payload)
{
    SendReply(sess, ucReply, nullptr, payload.Length());
}

void SendFrame(CSess& sess, uint8_t ucReply, const CPayloadWriter& payload)
{
    SendFrame(sess, ucReply, nullptr, payload.Length());
}

void SendStatus(CSess& sess, uint8_t ucReply, uint8_t ucStatus) { SendReply(sess, ucReply, &ucStatus, 1); }

void SendStatusSize(CSess& sess, uint8_t ucReply, uint8_t ucStatus, SizeWidth width, uint64_t ullValue)
{
    CPayloadWriter payload(sess.m_Packet);
    payload.U8(ucStatus);
    payload.LE(ullValue, WidthBytes(width));
    SendReply(sess, ucReply, payload);
}

void SendStatusU32(CSess& sess, uint8_t ucReply, uint8_t ucStatus, uint32_t ulValue)
{
    SendStatusSize(sess, ucReply, ucStatus, SizeWidth::Bits32, ulValue);
}
