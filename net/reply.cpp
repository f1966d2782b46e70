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

void SendStatusU32(CSess& sess, uint8_t ucReply, uint8_t ucStatus, uint32_t ulValue)
{
    uint8_t payload[5] = {ucStatus};
    PutU32LE(payload + 1, ulValue);
    SendReply(sess, ucReply, payload, 5);
}

void SendStatusU64(CSess& sess, uint8_t ucReply, uint8_t ucStatus, uint64_t ullValue)
{
    uint8_t payload[9] = {ucStatus};
    PutU64LE(payload + 1, ullValue);
    SendReply(sess, ucReply, payload, 9);
}
