// FC_VER_REQ and FC_SESS_CLOSE: the two commands that need no file system.
#include "net/handlers.h"
#include "net/reply.h"
#include "net/sess.h"
#include "platform/log.h"

// The daemon's version as the STB reads it: 3, then 4.
constexpr uint8_t kVersionMajor = 0x03;
constexpr uint8_t kVersionMinor = 0x04;

CmdNext HandleVerReq(CSess& sess, CXferCtx&)
{
    plat::Trace("FC_VER_REQ(%lx)\n", sess.Id());
    const uint8_t payload[2] = {kVersionMajor, kVersionMinor};
    SendReply(sess, 0xE1, payload, 2);
    return CmdNext::Continue;
}

CmdNext HandleSessClose(CSess& sess, CXferCtx&)
{
    plat::Trace("FC_SESS_CLOSE(%lx)\n", sess.Id());
    return CmdNext::EndSession;
}
