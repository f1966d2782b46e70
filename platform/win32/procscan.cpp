// Finding and stopping processes through Tool Help snapshots.
#include <memory>
#include <new>

#include "platform/process.h"
#include "platform/win32/win.h"

#include <tlhelp32.h>

namespace plat {

namespace {

// The user a token runs as, copied out.
std::unique_ptr<BYTE[]> TokenUserOf(HANDLE hToken)
{
    DWORD dwBytes = 0;
    GetTokenInformation(hToken, TokenUser, nullptr, 0, &dwBytes);
    if (dwBytes == 0)
        return nullptr;
    std::unique_ptr<BYTE[]> p(new (std::nothrow) BYTE[dwBytes]);
    if (p == nullptr || !GetTokenInformation(hToken, TokenUser, p.get(), dwBytes, &dwBytes))
        return nullptr;
    return p;
}

std::unique_ptr<BYTE[]> ProcessUser(HANDLE hProcess)
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(hProcess, TOKEN_QUERY, &hToken))
        return nullptr;
    std::unique_ptr<BYTE[]> p = TokenUserOf(hToken);
    CloseHandle(hToken);
    return p;
}

std::string BaseName(const std::wstring& wstrPath)
{
    const size_t n = wstrPath.find_last_of(L"\\/");
    return WideToUtf8(n == std::wstring::npos ? wstrPath : wstrPath.substr(n + 1));
}

// True when the image the process runs has this base name.
bool ImageHasName(HANDLE hProcess, const char* pszModule)
{
    std::wstring wstrImage(MAX_PATH, L'\0');
    for (int nTry = 0; nTry < 4; ++nTry) {
        DWORD n = static_cast<DWORD>(wstrImage.size());
        if (QueryFullProcessImageNameW(hProcess, 0, wstrImage.data(), &n)) {
            wstrImage.resize(n);
            return BaseName(wstrImage) == pszModule;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
        wstrImage.resize(wstrImage.size() * 4);
    }
    return false;
}

// True when a module of the process (its executable and every library it has loaded)
// has this name.
bool ModulesHaveName(DWORD dwPid, const char* pszModule)
{
    HANDLE hSnap = INVALID_HANDLE_VALUE;
    for (int nTry = 0; nTry < 4 && hSnap == INVALID_HANDLE_VALUE; ++nTry) {
        hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, dwPid);
        if (hSnap == INVALID_HANDLE_VALUE && GetLastError() != ERROR_BAD_LENGTH)
            return false;  // a process we may not inspect
    }
    if (hSnap == INVALID_HANDLE_VALUE)
        return false;
    CHandle snap(hSnap);
    MODULEENTRY32W me{};
    me.dwSize = sizeof(me);
    for (BOOL b = Module32FirstW(snap.Get(), &me); b; b = Module32NextW(snap.Get(), &me)) {
        if (WideToUtf8(me.szModule) == pszModule)
            return true;
    }
    return false;
}

}  // namespace

bool HandleIsOwnProcess(HANDLE hProcess)
{
    HANDLE hOurToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hOurToken))
        return false;
    const std::unique_ptr<BYTE[]> pOurs = TokenUserOf(hOurToken);
    CloseHandle(hOurToken);
    const std::unique_ptr<BYTE[]> pTheirs = ProcessUser(hProcess);
    if (pOurs == nullptr || pTheirs == nullptr)
        return false;
    return EqualSid(reinterpret_cast<TOKEN_USER*>(pOurs.get())->User.Sid,
                    reinterpret_cast<TOKEN_USER*>(pTheirs.get())->User.Sid) != FALSE;
}

bool ListProcesses(std::vector<int>& pids)
{
    pids.clear();
    CHandle hSnap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnap.Ok())
        return false;
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof(pe);
    for (BOOL b = Process32FirstW(hSnap.Get(), &pe); b; b = Process32NextW(hSnap.Get(), &pe)) {
        if (pe.th32ProcessID != 0)
            pids.push_back(static_cast<int>(pe.th32ProcessID));
    }
    return true;
}

int CurrentProcessId() { return static_cast<int>(GetCurrentProcessId()); }

bool IsOwnProcess(int nPid)
{
    CHandle h(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(nPid)));
    return h.Ok() && HandleIsOwnProcess(h.Get());
}

bool ProcessHasModuleName(int nPid, const char* pszModule)
{
    CHandle h(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(nPid)));
    if (h.Ok() && ImageHasName(h.Get(), pszModule))
        return true;
    return ModulesHaveName(static_cast<DWORD>(nPid), pszModule);
}

int KillOwnProcessWithModule(int nPid, const char* pszModule)
{
    // The handle keeps the id from going to another process between the checks and the
    // end: both concern this process.
    CHandle h(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(nPid)));
    if (!h.Ok())
        return 0;  // gone, or not ours to end
    if (!HandleIsOwnProcess(h.Get()) ||
        !(ImageHasName(h.Get(), pszModule) || ModulesHaveName(static_cast<DWORD>(nPid), pszModule)))
        return 0;
    return TerminateProcess(h.Get(), 0) ? 1 : -1;
}

}  // namespace plat
