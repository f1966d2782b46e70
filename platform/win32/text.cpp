#include "platform/win32/win.h"

#include <climits>

namespace plat {

bool Utf8ToWide(std::string_view str, std::wstring& wstrOut)
{
    wstrOut.clear();
    if (str.empty())
        return true;
    if (str.size() > static_cast<size_t>(INT_MAX))
        return false;
    const int nIn = static_cast<int>(str.size());
    const int nOut = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, str.data(), nIn, nullptr, 0);
    if (nOut <= 0)
        return false;
    wstrOut.resize(static_cast<size_t>(nOut));
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, str.data(), nIn, wstrOut.data(), nOut) != nOut) {
        wstrOut.clear();
        return false;
    }
    return true;
}

std::string WideToUtf8(std::wstring_view wstr)
{
    std::string str;
    if (wstr.empty() || wstr.size() > static_cast<size_t>(INT_MAX))
        return str;
    const int nIn = static_cast<int>(wstr.size());
    const int nOut = WideCharToMultiByte(CP_UTF8, 0, wstr.data(), nIn, nullptr, 0, nullptr, nullptr);
    if (nOut <= 0)
        return str;
    str.resize(static_cast<size_t>(nOut));
    if (WideCharToMultiByte(CP_UTF8, 0, wstr.data(), nIn, str.data(), nOut, nullptr, nullptr) != nOut)
        str.clear();
    return str;
}

std::string ErrorText(DWORD dwError)
{
    wchar_t* pszText = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, dwError, 0, reinterpret_cast<wchar_t*>(&pszText), 0, nullptr);
    std::string str;
    if (n > 0 && pszText != nullptr)
        str = WideToUtf8(std::wstring_view(pszText, n));
    if (pszText != nullptr)
        LocalFree(pszText);
    while (!str.empty() && (str.back() == '\n' || str.back() == '\r' || str.back() == ' ' || str.back() == '.'))
        str.pop_back();
    if (str.empty())
        str = "error " + std::to_string(dwError);
    return str;
}

}  // namespace plat
