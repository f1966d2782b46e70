#include "platform/console.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void IgnoreBrokenPipe() { signal(SIGPIPE, SIG_IGN); }

int OpenLocalForReading(const std::string& strPath, FILE** ppFile, uint64_t& ullSize, std::string& strError)
{
    *ppFile = nullptr;
    // O_NONBLOCK: opening a FIFO with no writer would otherwise wait for one.
    const int fd = open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        strError = strerror(errno);
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        strError = strerror(errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        return -2;
    }
    const int nFlags = fcntl(fd, F_GETFL);
    FILE* pFile = nFlags < 0 || fcntl(fd, F_SETFL, nFlags & ~O_NONBLOCK) != 0 ? nullptr : fdopen(fd, "rb");
    if (pFile == nullptr) {
        strError = strerror(errno);
        close(fd);
        return -1;
    }
    ullSize = static_cast<uint64_t>(st.st_size);
    *ppFile = pFile;
    return 0;
}

}  // namespace plat
