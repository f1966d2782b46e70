// The status of this daemon as the user sees it: the session manager's latest snapshot,
// with where STBs reach the daemon and the shared folder's free bytes, both read at the
// call. The status page serves it; the dialog can show it.
#pragma once

#include "net/statusboard.h"

class CSessMan;

// Any thread, while the manager runs (between its Create and its Destroy).
CStatusSnapshot DaemonStatus(const CSessMan& man);
