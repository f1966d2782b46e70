#include "platform/instance.h"

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace plat {

int AcquireInstanceGuard(const char* pszName)
{
    const char* pszRuntime = getenv("XDG_RUNTIME_DIR");
    std::string strPath = (pszRuntime != nullptr && *pszRuntime != '\0')
                              ? std::string(pszRuntime) + "/" + pszName + ".lock"
                              : "/tmp/" + std::string(pszName) + "-" + std::to_string(getuid()) + ".lock";
    int fd = open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return 0;
    }
    // The descriptor stays open, and the lock held, until the process ends.
    return 1;
}

}  // namespace plat
