// The status the dialog of the running daemon shows.
#pragma once

#include "app/corvanedlg.h"

// The status of the daemon this process runs (SessMan's board), with the addresses and the
// port STBs reach it at. The addresses are listed once, when this is called (after the
// listener is up), not at every snapshot.
StatusSource DaemonStatusSource();
