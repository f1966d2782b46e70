// The STB side of the benchmarks: connections of the client library (tools/stb_conn.h) to a
// server on loopback, and the version exchange that proves a server answers.
#pragma once

#include <cstdint>

#include "tools/stb_conn.h"

// Connects conn to 127.0.0.1:usPort with receives and sends that give up after
// nTimeoutMs. False, with the reason in conn.Error(), when it cannot.
bool ConnectLoopback(CStbConn& conn, uint16_t usPort, int nTimeoutMs = 5000);

// FC_VER_REQ and its reply, which must be exactly the protocol version this build
// answers. False, with the reason in conn.Error(), otherwise.
bool VerRoundTrip(CStbConn& conn);
// True when the frame is that reply.
bool IsVerReply(const CFrameView& reply);
