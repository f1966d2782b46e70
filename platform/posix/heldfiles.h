// The share modes a copy or a move honours: the files it takes are locked as the
// transfer commands lock theirs (platform/file.h), shared as a download reads, exclusive
// as an upload writes, so that a file another opener holds in a way that refuses the lock
// stops the operation before it changes anything, and no download or upload opens one of
// them while the operation runs. Private to platform/posix.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

class CHeldFiles {
public:
    // Files held open at most; the lock of every further file of a large tree is only
    // tried, then let go (each operation must leave descriptors for the other sessions).
    static constexpr size_t kMaxHeld = 256;

    explicit CHeldFiles(bool bExclusive) : m_bExclusive(bExclusive) {}
    ~CHeldFiles() { Release(); }
    CHeldFiles(const CHeldFiles&) = delete;
    CHeldFiles& operator=(const CHeldFiles&) = delete;

    // Locks the item named strName in the folder open at parentFd: a regular file itself,
    // or every regular file below a folder, never through a link (a link itself holds
    // nothing). 0; -1 when one of them is held by another opener, or the tree cannot be
    // read: nothing is held then.
    int Take(int parentFd, const std::string& strName);
    // The bytes of the regular files met by Take.
    uint64_t Bytes() const { return m_ullBytes; }
    void Release();

private:
    // Locks one regular file of the open folder. False when another opener refuses it.
    bool TakeFile(int dirFd, const char* pszName);
    // Locks every regular file below the folder strName of parentFd.
    int TakeTree(int parentFd, const std::string& strName);

    bool m_bExclusive;
    std::vector<int> m_fds;
    uint64_t m_ullBytes = 0;
};

}  // namespace plat
