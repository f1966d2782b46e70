#include "platform/posix/beneath.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/posix/namewalk.h"

namespace plat {

CFd::~CFd()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool RelativeToRoot(const CShare& share, const std::string& strPath, std::string& strRel)
{
    const std::string& strRoot = share.strRoot;
    if (strRoot.empty() || strPath.compare(0, strRoot.size(), strRoot) != 0)
        return false;
    size_t i = strRoot.size();
    // "/srv/media2" does not lie in "/srv/media"; the root "/" ends with its separator.
    if (i < strPath.size() && strPath[i] != '/' && strRoot.back() != '/')
        return false;
    while (i < strPath.size() && strPath[i] == '/')
        ++i;
    strRel.assign(strPath, i, std::string::npos);
    // assign(1, '.') rather than = ".": g++ 12 takes the literal's copy over a string
    // that held other text for an overlap (-Wrestrict) and fails the build.
    if (strRel.empty())
        strRel.assign(1, '.');
    return true;
}

namespace {

constexpr int kMaxAgain = 16;  // EAGAIN from openat2 this many times in a row is the answer

// glibc has no wrapper for openat2.
int OpenAt2(int dirfd, const char* pszPath, int nFlags, mode_t mode, uint64_t ullResolve)
{
    struct open_how how = {};
    how.flags = static_cast<uint64_t>(nFlags);
    // O_TMPFILE holds O_DIRECTORY's bit: a folder opened with a mode would be refused.
    how.mode = (nFlags & O_CREAT) != 0 || (nFlags & O_TMPFILE) == O_TMPFILE ? mode : 0;
    how.resolve = ullResolve;
    for (int nAgain = 0;;) {
        long r = syscall(SYS_openat2, dirfd, pszPath, &how, sizeof(how));
        if (r >= 0)
            return static_cast<int>(r);
        // EAGAIN: a rename elsewhere raced the lookup, and the kernel asks to try again;
        // a few times only, since a lease another process holds answers EAGAIN too (with
        // O_NONBLOCK) for as long as it is held.
        if (errno == EAGAIN ? ++nAgain >= kMaxAgain : errno != EINTR)
            return -errno;
    }
}

// Whether this process resolves paths with openat2: the kernel has it (Linux 5.6 on) and
// no seccomp filter refuses it (ENOSYS or EPERM; E2BIG or EINVAL from a kernel that
// does not take the request). Asked once, on a bad descriptor, so that the probe touches
// no file: a kernel that takes the request answers EBADF.
bool HaveOpenAt2()
{
    static const bool s_bHave = [] {
        struct open_how how = {};
        how.flags = O_PATH | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        const long r = syscall(SYS_openat2, -1, ".", &how, sizeof(how));
        if (r >= 0) {
            close(static_cast<int>(r));
            return true;
        }
        return errno == EBADF;
    }();
    return s_bHave;
}

// Without openat2, links lead anywhere by openat itself.
int OpenPlain(int dirfd, const char* pszPath, int nFlags, mode_t mode)
{
    for (;;) {
        const int fd = openat(dirfd, pszPath, nFlags, mode);
        if (fd >= 0)
            return fd;
        if (errno != EINTR)
            return -errno;
    }
}

int OpenRel(const CShare& share, const std::string& strRel, int nFlags, mode_t mode)
{
    CFd root(open(share.strRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root.Ok())
        return -errno;
    nFlags |= O_CLOEXEC;
    if (HaveOpenAt2()) {
        const uint64_t ullResolve = share.bWideLinks ? 0 : (RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS);
        return OpenAt2(root.Get(), strRel.c_str(), nFlags, mode, ullResolve);
    }
    if (share.bWideLinks)
        return OpenPlain(root.Get(), strRel.c_str(), nFlags, mode);
    return OpenByNames(root.Get(), strRel, nFlags, mode);
}

}  // namespace

const char* PathResolutionName() { return HaveOpenAt2() ? "by openat2" : "one name at a time (no openat2)"; }

int OpenBeneath(const CShare& share, const std::string& strPath, int nFlags, mode_t mode)
{
    std::string strRel;
    if (!RelativeToRoot(share, strPath, strRel))
        return -EXDEV;
    return OpenRel(share, strRel, nFlags, mode);
}

int OpenParentBeneath(const CShare& share, const std::string& strPath, std::string& strLast)
{
    std::string strRel;
    if (!RelativeToRoot(share, strPath, strRel))
        return -EXDEV;
    while (strRel.size() > 1 && strRel.back() == '/')
        strRel.pop_back();
    const size_t nSlash = strRel.rfind('/');
    std::string strParent = nSlash == std::string::npos ? std::string(".") : strRel.substr(0, nSlash);
    strLast = nSlash == std::string::npos ? strRel : strRel.substr(nSlash + 1);
    if (strParent.empty())
        strParent.assign(1, '.');
    return OpenRel(share, strParent, O_PATH | O_DIRECTORY, 0);
}

}  // namespace plat
