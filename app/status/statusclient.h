// `corvane --status`: the running daemon's status, read from its status page.
#pragma once

#include <string>

#include "app/status/statuslisten.h"

// Exit status of --status when no daemon answers at the address.
constexpr int kStatusNoDaemon = 3;

// Reads /status.json at the address and gives it as text (see StatusText). 0, or
// kStatusNoDaemon with the reason in strOut when nothing answers there or the answer is
// not the status.
int ReadRunningStatus(const CStatusListen& listen, std::string& strOut);
