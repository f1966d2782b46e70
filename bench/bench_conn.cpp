#include "bench_conn.h"

#include "net/protocol.h"

bool ConnectLoopback(CStbConn& conn, uint16_t usPort, int nTimeoutMs)
{
    return conn.Connect("127.0.0.1", usPort, nTimeoutMs) == 0;
}

bool IsVerReply(const CFrameView& reply)
{
    return reply.ucCommand == FC_VER_REP && reply.nPayload == 2 && reply.pPayload[0] == kProtocolVersionMajor &&
           reply.pPayload[1] == kProtocolVersionMinor;
}

bool VerRoundTrip(CStbConn& conn)
{
    CFrameView reply;
    if (conn.Exchange(FC_VER_REQ, {}, FC_VER_REP, 2, reply) != 0)
        return false;
    if (IsVerReply(reply))
        return true;
    conn.Reject("FC_VER_REQ answered with " + std::to_string(reply.nPayload) + " payload bytes, not version " +
                std::to_string(kProtocolVersionMajor) + "." + std::to_string(kProtocolVersionMinor));
    return false;
}
