// The single-instance guard: one running daemon per user session.
#pragma once

namespace plat {

// Takes the guard named pszName. Returns 1 when taken (held until the process ends),
// 0 when another process holds it, -1 when the guard cannot be made at all (start-up
// then goes on without it).
int AcquireInstanceGuard(const char* pszName);

}  // namespace plat
