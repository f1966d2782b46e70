// What the handlers tell the status about the transfers they run: one begins (its kind,
// its path within the shared folder, its announced total), bytes move, and it ends,
// finished or failed (an event the user sees in the recent list).
#pragma once

#include <cstdint>
#include <string>

#include "net/activity.h"

class CSess;
struct CXferCtx;

// The local path as the STB names it: within the shared folder, '/' first.
std::string PathInShare(const CXferCtx& ctx, const std::string& strLocal);

// A transfer of the local path begins.
void BeginTransfer(CSess& sess, const CXferCtx& ctx, StbActivity eActivity, const std::string& strLocal,
                   uint64_t ullTotal);
// The current transfer ends: the session is idle again, and the event names it.
void EndTransfer(CSess& sess, bool bFinished);
