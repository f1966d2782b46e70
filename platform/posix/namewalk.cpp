#include "platform/posix/namewalk.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

#include "platform/posix/beneath.h"

namespace plat {

namespace {

constexpr int kMaxLinks = 40;  // the kernel's MAXSYMLINKS
constexpr int kMaxTries = 8;   // walks started afresh after a rename moved a folder under one
// What a walk answers besides a descriptor and -errno.
constexpr int kMoved = INT_MIN;         // a ".." did not lead back to the folder it came from
constexpr int kFollowed = INT_MIN + 1;  // the last name was a link: its target is walked now
constexpr long kProcFsMagic = 0x9fa0;   // PROC_SUPER_MAGIC
constexpr ino_t kProcRootIno = 1;       // /proc itself, which holds the only plain links of /proc
constexpr unsigned long kNoSymFollow = 0x2000;  // ST_NOSYMFOLLOW: a mount whose links are never followed

// A folder the walk went down through.
struct Folder {
    dev_t dev;
    ino_t ino;
    mode_t mode;
    uid_t uid;
};

Folder FolderOf(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_mode, st.st_uid}; }

// openat, again after a signal. A descriptor, or -errno.
int OpenAt(int dirfd, const char* pszName, int nFlags, mode_t mode = 0)
{
    for (;;) {
        const int fd = openat(dirfd, pszName, nFlags, mode);
        if (fd >= 0)
            return fd;
        if (errno != EINTR)
            return -errno;
    }
}

// fs.protected_symlinks: a link that a path ends in, lying in a sticky folder that others
// may write in, is followed only by its owner or when the folder's owner owns it too. Read
// once; taken as on (every distribution's default) when it cannot be read.
bool ProtectedSymlinks()
{
    static const bool s_bOn = [] {
        CFd fd(open("/proc/sys/fs/protected_symlinks", O_RDONLY | O_CLOEXEC));
        char c = '1';
        return !fd.Ok() || read(fd.Get(), &c, 1) != 1 || c != '0';
    }();
    return s_bOn;
}

// One resolution. The walk holds the descriptor of its current folder only; the folders
// above it are known by device and inode, which every ".." must meet again.
class CNameWalk {
public:
    CNameWalk(int rootfd, int nFlags, mode_t mode) : m_rootfd(rootfd), m_nFlags(nFlags), m_Mode(mode) {}

    // A descriptor, -errno, or kMoved.
    int Run(const std::string& strRel);

private:
    int Cur() const { return m_Cur.Ok() ? m_Cur.Get() : m_rootfd; }
    void Push(std::string_view text, bool bLast);
    int Descend(const std::string& strName);
    int Ascend();
    int OpenLast(const std::string& strName);
    int Follow(int linkfd, const std::string& strName, bool bLast, int nNotLink);
    int MayFollow(int linkfd, const std::string& strName) const;

    const int m_rootfd;
    const int m_nFlags;
    const mode_t m_Mode;
    CFd m_Cur;                         // the current folder; not open while it is rootfd
    std::vector<Folder> m_Folders;     // rootfd's folder first, the current folder last
    std::vector<std::string> m_Names;  // the names still to walk, the next one last
    bool m_bSlash = false;             // a '/' follows the last name: it must be a folder
    int m_nLinks = 0;
};

// Puts the names of text before those still to walk. bLast: text takes the place of the
// last name (the path itself, or a link that was the last name).
void CNameWalk::Push(std::string_view text, bool bLast)
{
    if (bLast && text.back() == '/')
        m_bSlash = true;
    size_t nEnd = text.size();
    while (nEnd > 0) {
        while (nEnd > 0 && text[nEnd - 1] == '/')
            --nEnd;
        size_t nBegin = nEnd;
        while (nBegin > 0 && text[nBegin - 1] != '/')
            --nBegin;
        if (nBegin < nEnd)
            m_Names.emplace_back(text.substr(nBegin, nEnd - nBegin));
        nEnd = nBegin;
    }
}

int CNameWalk::Run(const std::string& strRel)
{
    if (strRel.empty())
        return -ENOENT;
    if (strRel.size() >= PATH_MAX)
        return -ENAMETOOLONG;
    if (strRel.front() == '/')
        return -EXDEV;
    struct stat st;
    if (fstat(m_rootfd, &st) != 0)
        return -errno;
    m_Folders.push_back(FolderOf(st));
    Push(strRel, true);
    while (!m_Names.empty()) {
        const std::string strName = std::move(m_Names.back());
        m_Names.pop_back();
        const bool bDot = strName == ".";
        const bool bDotDot = strName == "..";
        if (m_Names.empty() && !bDot && !bDotDot) {
            const int r = OpenLast(strName);
            if (r != kFollowed)
                return r;
            continue;
        }
        const int r = bDot ? 0 : bDotDot ? Ascend() : Descend(strName);
        if (r != 0)
            return r;
        // A path that ends in "." or "..": the folder reached, opened as the caller asks.
        if (m_Names.empty())
            return OpenAt(Cur(), ".", m_nFlags, m_Mode);
    }
    return -ENOENT;  // not reached: a path that is not absolute holds a name
}

int CNameWalk::Descend(const std::string& strName)
{
    const int fd = OpenAt(Cur(), strName.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd == -ENOTDIR)
        return Follow(-1, strName, false, ENOTDIR);
    if (fd < 0)
        return fd;
    CFd dir(fd);
    struct stat st;
    if (fstat(fd, &st) != 0)
        return -errno;
    m_Folders.push_back(FolderOf(st));
    m_Cur = std::move(dir);
    return 0;
}

int CNameWalk::Ascend()
{
    if (m_Folders.size() == 1)
        return -EXDEV;
    const int fd = OpenAt(Cur(), "..", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return fd;
    CFd up(fd);
    struct stat st;
    if (fstat(fd, &st) != 0)
        return -errno;
    m_Folders.pop_back();
    const Folder& came = m_Folders.back();
    // Moved elsewhere since the walk came down (a rename): never follow it.
    if (st.st_dev != came.dev || st.st_ino != came.ino)
        return kMoved;
    m_Folders.back() = FolderOf(st);
    m_Cur = std::move(up);
    return 0;
}

// The last name, opened with the caller's flags; a link there is opened as the kernel
// opens one (itself with O_NOFOLLOW or O_CREAT | O_EXCL, else followed). A descriptor,
// -errno, or kFollowed.
int CNameWalk::OpenLast(const std::string& strName)
{
    const bool bCreate = (m_nFlags & O_CREAT) != 0;
    // A '/' after the last name asks for a folder: never one to create, and a link there
    // is followed whatever the flags say.
    if (m_bSlash && bCreate)
        return -EISDIR;
    const bool bFollow = m_bSlash || ((m_nFlags & O_NOFOLLOW) == 0 && !(bCreate && (m_nFlags & O_EXCL) != 0));
    const int fd = OpenAt(Cur(), strName.c_str(), m_nFlags | O_NOFOLLOW | (m_bSlash ? O_DIRECTORY : 0), m_Mode);
    if (!bFollow)
        return fd;
    int r = 0;
    if (fd == -ELOOP || fd == -ENOTDIR) {
        r = Follow(-1, strName, true, -fd);
    } else {
        // With O_PATH, O_NOFOLLOW opens a link itself.
        if (fd < 0 || (m_nFlags & O_PATH) == 0)
            return fd;
        CFd opened(fd);
        struct stat st;
        if (fstat(fd, &st) != 0)
            return -errno;
        if (!S_ISLNK(st.st_mode))
            return opened.Release();
        r = Follow(fd, strName, true, ELOOP);
    }
    return r == 0 ? kFollowed : r;
}

// Reads the link (linkfd itself, or strName in the current folder) and puts its target in
// its place, with the kernel's refusals in the kernel's order. 0, or -errno; -nNotLink
// when it is no link after all.
int CNameWalk::Follow(int linkfd, const std::string& strName, bool bLast, int nNotLink)
{
    char szTarget[PATH_MAX];
    const ssize_t n = linkfd >= 0 ? readlinkat(linkfd, "", szTarget, sizeof(szTarget))
                                  : readlinkat(Cur(), strName.c_str(), szTarget, sizeof(szTarget));
    if (n < 0)
        return errno == EINVAL ? -nNotLink : -errno;
    if (++m_nLinks > kMaxLinks)
        return -ELOOP;
    if (bLast) {
        const int r = MayFollow(linkfd, strName);
        if (r != 0)
            return r;
    }
    // A mount that follows no link; a link of /proc/<pid> stands for an open object (a
    // descriptor, the working folder, a namespace), never for its text.
    struct statfs fs;
    if (fstatfs(Cur(), &fs) == 0) {
        if ((static_cast<unsigned long>(fs.f_flags) & kNoSymFollow) != 0)
            return -ELOOP;
        if (fs.f_type == kProcFsMagic && m_Folders.back().ino != kProcRootIno)
            return -ELOOP;
    }
    if (static_cast<size_t>(n) == sizeof(szTarget))
        return -ENAMETOOLONG;
    if (n == 0)
        return -ENOENT;
    if (szTarget[0] == '/')
        return -EXDEV;
    Push(std::string_view(szTarget, static_cast<size_t>(n)), bLast);
    return 0;
}

int CNameWalk::MayFollow(int linkfd, const std::string& strName) const
{
    const Folder& dir = m_Folders.back();
    if ((dir.mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH) || !ProtectedSymlinks())
        return 0;
    struct stat st;
    const int r = linkfd >= 0 ? fstat(linkfd, &st) : fstatat(Cur(), strName.c_str(), &st, AT_SYMLINK_NOFOLLOW);
    if (r != 0)
        return -errno;
    return st.st_uid == geteuid() || st.st_uid == dir.uid ? 0 : -EACCES;
}

}  // namespace

int OpenByNames(int rootfd, const std::string& strRel, int nFlags, mode_t mode)
{
    for (int i = 0; i < kMaxTries; ++i) {
        CNameWalk walk(rootfd, nFlags, mode);
        const int r = walk.Run(strRel);
        if (r != kMoved)
            return r;
    }
    return -EAGAIN;
}

}  // namespace plat
