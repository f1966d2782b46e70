// The status as JSON (the status page's /status.json) and back (`corvane --status`
// reads it from the running daemon).
#pragma once

#include <string>

#include "net/statusboard.h"

// The snapshot as one JSON object. Names and paths that are not valid UTF-8 have their
// bad bytes replaced, so the text is always valid JSON.
std::string StatusJson(const CStatusSnapshot& snap);

// Reads what StatusJson wrote. 0, or -1 when the text is not such an object (anything
// missing or of another type is refused; nothing is thrown).
int ParseStatusJson(const std::string& strText, CStatusSnapshot& snap);
