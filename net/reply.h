// Building and sending the single-frame replies of the command handlers.
#pragma once

#include <cstdint>

#include "net/protocol.h"

class CPayloadWriter;
class CSess;

// Builds the reply with the payload (null: the bytes already at offset 4), sends it, and
// marks the session as serving (state 4).
void SendReply(CSess& sess, uint8_t ucReply, const uint8_t* pPayload, int nLength);
// Builds and sends a frame without touching the session state (the data requests and
// the requests of the directory transactions leave it as it is).
void SendFrame(CSess& sess, uint8_t ucReply, const uint8_t* pPayload, int nLength);
// SendReply and SendFrame of the payload a writer built in the session's packet.
void SendReply(CSess& sess, uint8_t ucReply, const CPayloadWriter& payload);
void SendFrame(CSess& sess, uint8_t ucReply, const CPayloadWriter& payload);
// A reply whose payload is one status byte.
void SendStatus(CSess& sess, uint8_t ucReply, uint8_t ucStatus);
// A reply of a status byte and a little-endian number of the width.
void SendStatusSize(CSess& sess, uint8_t ucReply, uint8_t ucStatus, SizeWidth width, uint64_t ullValue);
// A reply of a status byte and a 32-bit little-endian number.
void SendStatusU32(CSess& sess, uint8_t ucReply, uint8_t ucStatus, uint32_t ulValue);
