#include "platform/console.h"

#include <fcntl.h>
#include <io.h>

#include "platform/win32/beneath.h"

namespace plat {

bool StderrIsTerminal()
{
    // A console, not merely a character device (NUL is one too).
    DWORD dwMode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &dwMode) != 0;
}

// Writes to a closed pipe fail on Windows; nothing ends the process.
void IgnoreBrokenPipe() {}

int OpenLocalForReading(const std::string& strPath, FILE** ppFile, uint64_t& ullSize, std::string& strError)
{
    *ppFile = nullptr;
    std::wstring wstrPath;
    if (!Utf8ToWide(strPath, wstrPath)) {
        strError = ErrorText(ERROR_INVALID_NAME);
        return -1;
    }
    // A folder opens too (to be told apart); a pipe or a device does not wait here. Only a
    // file on a disk is kept.
    CHandle h(CreateFileW(wstrPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h.Ok()) {
        strError = ErrorText(GetLastError());
        return -1;
    }
    HandleInfo info;
    if (GetFileType(h.Get()) != FILE_TYPE_DISK || !GetHandleInfo(h.Get(), info) || info.IsDir())
        return -2;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h.Get()), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        strError = ErrorText(ERROR_TOO_MANY_OPEN_FILES);
        return -1;
    }
    h.Release();  // the descriptor owns the handle now
    FILE* pFile = _fdopen(fd, "rb");
    if (pFile == nullptr) {
        strError = ErrorText(ERROR_TOO_MANY_OPEN_FILES);
        _close(fd);
        return -1;
    }
    ullSize = info.ullSize;
    *ppFile = pFile;
    return 0;
}

}  // namespace plat
