#include "net/errlines.h"

#include "platform/log.h"

void TraceErrLine(ErrLine eLine) { plat::Trace("E %s %d\n", "ip", static_cast<int>(eLine)); }
