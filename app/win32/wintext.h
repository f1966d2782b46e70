// Text between the daemon's UTF-8 and the UTF-16 of the window calls, for the Windows
// shell.
#pragma once

#include <string>
#include <string_view>

// UTF-8 to UTF-16; bytes that are not UTF-8 become U+FFFD.
std::wstring WideText(std::string_view str);
// UTF-16 to UTF-8.
std::string Utf8Text(std::wstring_view wstr);
