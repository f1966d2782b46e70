// What the Windows sources of the platform layer share: the system headers with the
// macros that would rename our own functions taken back, text between UTF-8 and the
// system's UTF-16, and handles that close themselves. Private to platform/win32.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// <windows.h> maps these names onto their A or W forms; the platform layer has functions
// of the same names (plat::DeleteFile ...), which must keep theirs. The system calls are
// made by their W names.
#undef DeleteFile
#undef RemoveDirectory
#undef CreateDirectory
#undef GetCurrentDirectory

#include <string>
#include <string_view>

namespace plat {

// UTF-8 to UTF-16; false (wstrOut empty) when the bytes are not valid UTF-8.
bool Utf8ToWide(std::string_view str, std::wstring& wstrOut);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string WideToUtf8(std::wstring_view wstr);
// The system's words for an error code (GetLastError, WSAGetLastError), in UTF-8,
// without the line end.
std::string ErrorText(DWORD dwError);

// True when the process of the handle (PROCESS_QUERY_LIMITED_INFORMATION) runs as this
// process's user.
bool HandleIsOwnProcess(HANDLE hProcess);

// A kernel handle closed when it goes out of scope; INVALID_HANDLE_VALUE and null both
// count as none.
class CHandle {
public:
    explicit CHandle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
    ~CHandle() { Reset(); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    CHandle& operator=(CHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_h = other.Release();
        }
        return *this;
    }
    HANDLE Get() const { return m_h; }
    bool Ok() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE Release()
    {
        HANDLE h = m_h;
        m_h = INVALID_HANDLE_VALUE;
        return h;
    }
    void Reset()
    {
        if (Ok())
            CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_h;
};

}  // namespace plat
