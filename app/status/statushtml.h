// The status page: one HTML document with no outside assets. It reads whole without
// JavaScript; with it, the page fetches itself again every second and swaps in the live
// part, so there is one way of drawing the status.
#pragma once

#include <string>

#include "net/statusboard.h"

std::string StatusHtml(const CStatusSnapshot& snap);

// The text with &, <, >, " and ' written as character references.
std::string HtmlEscaped(const std::string& str);
