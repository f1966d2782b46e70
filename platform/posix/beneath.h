// Resolving local paths beneath the shared folder (openat2 with RESOLVE_BENEATH and
// RESOLVE_NO_MAGICLINKS on a descriptor of the shared folder; where openat2 is missing or
// refused, the same answers from a walk one name at a time, platform/posix/namewalk.h).
// Private to platform/posix.
#pragma once

#include <string>
#include <sys/types.h>

#include "platform/share.h"

namespace plat {

// The part of a local path below the share's root, without leading separators ("." for
// the root itself). False when the path does not begin with the root.
bool RelativeToRoot(const CShare& share, const std::string& strPath, std::string& strRel);

// Opens the path (open(2) flags, O_CLOEXEC added) beneath the share. A descriptor, or
// -errno: -EXDEV when the path leads out of the shared folder.
int OpenBeneath(const CShare& share, const std::string& strPath, int nFlags, mode_t mode = 0);

// The folder that holds the path's last component, opened beneath the share (O_PATH),
// and that component, for the *at calls that act on a name without following it. A
// descriptor, or -errno. The root itself gives the root and ".".
int OpenParentBeneath(const CShare& share, const std::string& strPath, std::string& strLast);

// Closes a descriptor when it goes out of scope.
class CFd {
public:
    explicit CFd(int fd = -1) : m_fd(fd) {}
    ~CFd();
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    CFd& operator=(CFd&& other) noexcept
    {
        if (this != &other) {
            CFd old(m_fd);
            m_fd = other.Release();
        }
        return *this;
    }
    int Get() const { return m_fd; }
    bool Ok() const { return m_fd >= 0; }
    int Release()
    {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

}  // namespace plat
