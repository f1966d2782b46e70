// The one place that maps request bytes to their handlers: the main loop and the two
// sub-loops of the directory transactions.
#pragma once

#include <cstdint>

class CSess;
struct CXferCtx;

// What the command loop does after a handler.
enum class CmdNext {
    Continue,       // receive the next frame
    EndSession,     // FC_SESS_CLOSE: end the loop with -1
    EnterDirDown,   // serve only the directory download's requests from now on
    EnterDirUp,     // serve only the directory upload's requests from now on
};

using CmdHandler = CmdNext (*)(CSess& sess, CXferCtx& ctx);

struct CmdEntry {
    uint8_t ucRequest;
    const char* pszName;    // the name the diagnostics print
    CmdHandler pfnHandler;  // null: ignored like an unknown byte
};

enum class CmdLoop { Main, DirDown, DirUp };

// The entry for a request byte in a loop's table, or null when the byte is unknown there.
const CmdEntry* FindCommand(CmdLoop loop, uint8_t ucRequest);
