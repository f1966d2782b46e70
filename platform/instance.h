// The single-instance guard: one running daemon per user session.
#pragma once

#include <string>

namespace plat {

// Takes the guard named pszName: an exclusive lock on <folder>/<name>.lock, where the
// folder is the first of $XDG_RUNTIME_DIR, /run/user/UID and the settings folder
// (${XDG_CONFIG_HOME:-$HOME/.config}/Corvane, made 0700 when missing) that is a folder
// of ours that no one else may write in. Returns 1 when taken (held until the process
// ends); 0 when another process holds it, or when the lock file there is not a plain
// file of ours (a link, another user's file): then start-up must not go on, and a line
// on standard error says why; -1 when there is no such folder or the lock cannot be
// made at all (start-up then goes on without it, with a line on standard error).
int AcquireInstanceGuard(const char* pszName);

// The lock file AcquireInstanceGuard takes for pszName (it may make the settings
// folder), or the empty string when no folder qualifies.
std::string InstanceGuardPath(const char* pszName);

// The file of the guard pszName: the one this process holds, else the one
// AcquireInstanceGuard would take now (nothing is made to find it); empty when the guard
// is no file (Windows: a named mutex) or no folder qualifies. Any thread.
std::string InstanceGuardFile(const char* pszName);

}  // namespace plat
