#include "platform/process.h"

#include <vector>

#include "platform/win32/beneath.h"

#include <shellapi.h>
#include <tlhelp32.h>

namespace plat {

namespace {

constexpr int kStarted = 33;
constexpr int kFileNotFound = 2;
constexpr int kAccessDenied = 5;
constexpr int kOtherFailure = 31;

bool IsAbsolute(const char* psz)
{
    const bool bDrive = ((psz[0] >= 'A' && psz[0] <= 'Z') || (psz[0] >= 'a' && psz[0] <= 'z')) && psz[1] == ':' &&
                        (psz[2] == '\\' || psz[2] == '/');
    const bool bUnc = (psz[0] == '\\' || psz[0] == '/') && (psz[1] == '\\' || psz[1] == '/');
    return bDrive || bUnc;
}

uint64_t FileTimeValue(const FILETIME& ft) { return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

uint64_t CreationTime(HANDLE hProcess)
{
    FILETIME created, exited, kernel, user;
    return GetProcessTimes(hProcess, &created, &exited, &kernel, &user) ? FileTimeValue(created) : 0;
}

bool StillRunning(HANDLE hProcess)
{
    return WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT;
}

}  // namespace

std::string GetCurrentDir()
{
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0)
        return std::string();
    std::wstring wstrDir(n, L'\0');
    const DWORD m = GetCurrentDirectoryW(n, wstrDir.data());
    if (m == 0 || m >= n)
        return std::string();
    wstrDir.resize(m);
    return WideToUtf8(wstrDir);
}

bool PathExists(const std::string& strPath)
{
    std::wstring wstrPath;
    return ToWinPath(strPath, wstrPath) && GetFileAttributesW(wstrPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string CanonicalPath(const std::string& strPath)
{
    std::wstring wstrPath, wstrFinal;
    if (!ToWinPath(strPath, wstrPath))
        return std::string();
    CHandle h(CreateFileW(wstrPath.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Ok() || !FinalPathOf(h.Get(), wstrFinal))
        return std::string();
    // With '/' between the names, as the daemon joins every path of its own: one path
    // lies in another exactly when its text begins with the other's and a '/'.
    std::string str = WideToUtf8(PlainWinPath(wstrFinal));
    for (char& c : str)
        if (c == '\\')
            c = '/';
    return str;
}

int StartDetached(const char* pszFile, const std::string& strDir, DetachedGroup* pGroup)
{
    const std::string strPath = IsAbsolute(pszFile) ? std::string(pszFile) : strDir + "/" + pszFile;
    std::wstring wstrFile, wstrDir;
    if (!ToWinPath(strPath, wstrFile) || !ToWinPath(strDir, wstrDir))
        return kFileNotFound;
    if (GetFileAttributesW(wstrFile.c_str()) == INVALID_FILE_ATTRIBUTES)
        return kFileNotFound;
    wstrFile = PlainWinPath(wstrFile);
    wstrDir = PlainWinPath(wstrDir);
    // Hidden, with a console of its own (never ours, so its output stays out of our
    // lines), not waited for; the process handle only tells its id and start time.
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof(sei);
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | SEE_MASK_NO_CONSOLE;
    sei.lpVerb = L"open";
    sei.lpFile = wstrFile.c_str();
    sei.lpDirectory = wstrDir.c_str();
    sei.nShow = SW_HIDE;
    if (!ShellExecuteExW(&sei)) {
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND)
            return kFileNotFound;
        if (dwError == ERROR_ACCESS_DENIED || dwError == ERROR_BAD_EXE_FORMAT || dwError == ERROR_NO_ASSOCIATION)
            return kAccessDenied;
        return kOtherFailure;
    }
    if (sei.hProcess != nullptr) {
        if (pGroup != nullptr) {
            pGroup->nGroup = static_cast<int>(GetProcessId(sei.hProcess));
            pGroup->ullStart = CreationTime(sei.hProcess);
        }
        CloseHandle(sei.hProcess);
    }
    return kStarted;
}

int KillProcessGroup(const DetachedGroup& group)
{
    if (group.nGroup <= 0)
        return 0;
    // A process handle keeps its id from going to another process while it is held.
    CHandle hLeader(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                static_cast<DWORD>(group.nGroup)));
    if (!hLeader.Ok())
        return GetLastError() == ERROR_INVALID_PARAMETER ? 0 : -1;  // gone, or not ours to open
    if (!StillRunning(hLeader.Get()))
        return 0;
    if (CreationTime(hLeader.Get()) != group.ullStart || !HandleIsOwnProcess(hLeader.Get()))
        return -1;
    // What the program started in turn (a wrapper's real server): its descendants that
    // began after it, ours alone.
    CHandle hSnap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (hSnap.Ok()) {
        std::vector<DWORD> tree{static_cast<DWORD>(group.nGroup)};
        std::vector<PROCESSENTRY32W> all;
        PROCESSENTRY32W pe{};
        pe.dwSize = sizeof(pe);
        for (BOOL b = Process32FirstW(hSnap.Get(), &pe); b; b = Process32NextW(hSnap.Get(), &pe))
            all.push_back(pe);
        for (size_t i = 0; i < tree.size(); ++i) {
            for (const PROCESSENTRY32W& p : all) {
                if (p.th32ParentProcessID != tree[i] || p.th32ProcessID == tree[i] || p.th32ProcessID == 0)
                    continue;
                CHandle hChild(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, p.th32ProcessID));
                if (!hChild.Ok() || CreationTime(hChild.Get()) < group.ullStart || !HandleIsOwnProcess(hChild.Get()))
                    continue;
                tree.push_back(p.th32ProcessID);
                TerminateProcess(hChild.Get(), 0);
            }
        }
    }
    return TerminateProcess(hLeader.Get(), 0) ? 1 : -1;
}

}  // namespace plat
