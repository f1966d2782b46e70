#include "net/reply.h"

#include "net/sess.h"
#include "net/wire.h"

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

void SendStatus(CSess& sess, uint8_t ucReply, uint8_t ucStatus) { SendReply(sess, ucReply, &ucStatus, 1); }

void SendStatusSize(CSess& sess, uint8_t ucReply, uint8_t ucStatus, SizeWidth width, uint64_t ullValue)
{
    const int nWidth = WidthBytes(width);
    uint8_t payload[9] = {ucStatus};
    PutLE(payload + 1, ullValue, nWidth);
    SendReply(sess, ucReply, payload, 1 + nWidth);
}

void SendStatusU32(CSess& sess, uint8_t ucReply, uint8_t ucStatus, uint32_t ulValue)
{
    SendStatusSize(sess, ucReply, ucStatus, SizeWidth::Bits32, ulValue);
}
