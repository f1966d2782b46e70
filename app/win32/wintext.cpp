#include "app/win32/wintext.h"

#include <windows.h>

std::wstring WideText(std::string_view str)
{
    if (str.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), nullptr, 0);
    std::wstring wstr(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), wstr.data(), n);
    return wstr;
}

std::string Utf8Text(std::wstring_view wstr)
{
    if (wstr.empty())
        return std::string();
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, wstr.data(), static_cast<int>(wstr.size()), nullptr, 0, nullptr, nullptr);
    std::string str(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wstr.data(), static_cast<int>(wstr.size()), str.data(), n, nullptr, nullptr);
    return str;
}
