// The status of this daemon as the user sees it: the session manager's latest snapshot,
// with where STBs reach the daemon and the shared folder's free bytes, both read at the
// call. The status page and the dialog show it.
#pragma once

#include "app/corvanedlg.h"
#include "net/statusboard.h"

class CSessMan;

// Any thread, while the manager runs (between its Create and its Destroy).
CStatusSnapshot DaemonStatus(const CSessMan& man);

// The status of the daemon this process runs (SessMan's), for the dialog, which reads it
// once a second: the addresses are listed again at each read, so that one the computer
// gains or loses while the dialog is open is shown.
StatusSource DaemonStatusSource();
