#include "platform/instance.h"

#include "platform/win32/win.h"

namespace plat {

int AcquireInstanceGuard(const char* pszName)
{
    std::wstring wstrName;
    if (!Utf8ToWide(pszName, wstrName))
        return -1;
    // A named mutex of this logon session, not owned: it is the name's existence that
    // keeps a second copy out. The handle stays open until the process ends.
    HANDLE h = CreateMutexW(nullptr, FALSE, wstrName.c_str());
    if (h == nullptr)
        return -1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(h);  // the other holder keeps the mutex alive
        return 0;
    }
    return 1;
}

// The guard is a kernel object, not a file: its name.
std::string InstanceGuardPath(const char* pszName) { return pszName; }

std::string InstanceGuardFile(const char* /*pszName*/) { return std::string(); }

}  // namespace plat
