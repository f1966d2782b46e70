// Inside the platform layer: where a diagnostic line goes.
#pragma once

#include <string>

namespace plat {

// Writes the finished line (it ends with its '\n') to standard output in one piece, so
// that lines of several sessions never mix, and flushes it.
void WriteTraceLine(const std::string& strLine);

}  // namespace plat
