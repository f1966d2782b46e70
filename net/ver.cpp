#include "net/ver.h"

#include "net/reply.h"
#include "net/sess.h"
#include "platform/log.h"

CmdNext HandleVerReq(CSess& sess, CXferCtx&)
{
    plat::Trace("FC_VER_REQ(%lx)\n", sess.Id());
    const uint8_t payload[2] = {kProtocolVersionMajor, kProtocolVersionMinor};
    SendReply(sess, FC_VER_REP, payload, 2);
    return CmdNext::Continue;
}

CmdNext HandleSessClose(CSess& sess, CXferCtx&)
{
    plat::Trace("FC_SESS_CLOSE(%lx)\n", sess.Id());
    return CmdNext::EndSession;
}
