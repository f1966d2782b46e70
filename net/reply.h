// Building and sending the single-frame replies of the command handlers.
#pragma once

#include <cstdint>

class CSess;

// Builds the reply with the payload (null: the bytes already at offset 4), sends it, and
// marks the session as serving (state 4).
void SendReply(CSess& sess, uint8_t ucReply, const uint8_t* pPayload, int nLength);
// Builds and sends a frame without touching the session state (the data requests and
// the requests of the directory transactions leave it as it is).
void SendFrame(CSess& sess, uint8_t ucReply, const uint8_t* pPayload, int nLength);
// A reply whose payload is one status byte.
void SendStatus(CSess& sess, uint8_t ucReply, uint8_t ucStatus);
// A reply of a status byte and a 32-bit little-endian number.
void SendStatusU32(CSess& sess, uint8_t ucReply, uint8_t ucStatus, uint32_t ulValue);
// A reply of a status byte and a 64-bit little-endian number.
void SendStatusU64(CSess& sess, uint8_t ucReply, uint8_t ucStatus, uint64_t ullValue);

// Status bytes shared by the replies.
constexpr uint8_t kStatusDone = 0;
constexpr uint8_t kStatusFailed = 1;
constexpr uint8_t kStatusRunning = 2;
constexpr uint8_t kStatusNoMemory = 3;
constexpr uint8_t kStatusShort = 4;
constexpr uint8_t kStatusInvalid = 0xFF;

// The reply byte of most requests: the request with its upper four bits inverted.
constexpr uint8_t ReplyByte(uint8_t ucRequest) { return static_cast<uint8_t>(ucRequest ^ 0xF0); }
