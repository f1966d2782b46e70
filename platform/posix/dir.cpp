#include "platform/dir.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <optional>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ownfiles.h"
#include "platform/posix/beneath.h"
#include "platform/posix/ownid.h"
#include "platform/shellop.h"

namespace plat {

const size_t kMaxPathBytes = PATH_MAX;

namespace {

// Fills the type and size of one entry of the open folder; false when it is gone. A
// link is followed beneath the share only.
bool LookUp(const CShare& share, const std::string& strDir, int dfd, const char* pszName, FindEntry& e)
{
    struct stat st;
    if (fstatat(dfd, pszName, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    e.bLink = S_ISLNK(st.st_mode);
    struct stat target;
    if (e.bLink) {
        CFd fd(OpenBeneath(share, strDir + "/" + pszName, O_PATH));
        if (fd.Ok() && fstat(fd.Get(), &target) == 0)
            st = target;
    }
    e.bDir = S_ISDIR(st.st_mode);
    e.ullSize = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    return true;
}

// True when the entry (not a folder) of the open folder is one of the daemon's own files:
// by its place, or by where it leads. The folder's identity is looked up once.
bool IsOwnEntry(const COwnFiles& own, const CShare& share, const std::string& strDir, int dfd, const dirent& ent,
                bool bLink, std::optional<CFileId>& folderId)
{
    struct stat st;
    if (own.HasName(ent.d_name)) {
        if (!folderId && fstat(dfd, &st) == 0)
            folderId = IdOf(st);
        if (folderId && own.IsPlace(*folderId, ent.d_name))
            return true;
    }
    if (bLink) {
        CFd fd(OpenBeneath(share, strDir + "/" + ent.d_name, O_PATH));
        return fd.Ok() && fstat(fd.Get(), &st) == 0 && own.IsFile(IdOf(st));
    }
    // The index the folder gives picks the few entries worth a look.
    return own.MayBeFile(static_cast<uint64_t>(ent.d_ino)) && fstatat(dfd, ent.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           own.IsFile(IdOf(st));
}

}  // namespace

// Opens the folder beneath the share for reading its entries; null when it cannot be.
static DIR* OpenFolder(const CShare& share, const std::string& strDir)
{
    int dfd = OpenBeneath(share, strDir, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    if (dfd < 0)
        return nullptr;
    DIR* pDir = fdopendir(dfd);
    if (pDir == nullptr)
        close(dfd);
    return pDir;
}

int ReadDirectory(const CShare& share, const std::string& strDir, bool bSizes,
                  const std::function<void(FindEntry& entry)>& fnEntry)
{
    DIR* pDir = OpenFolder(share, strDir);
    if (pDir == nullptr)
        return -1;
    const int dfd = dirfd(pDir);
    const COwnFiles own(share);
    std::optional<CFileId> folderId;
    FindEntry e;
    while (dirent* pEnt = readdir(pDir)) {
        if (IsCopyTemporaryName(pEnt->d_name))
            continue;  // a copy's file, not in its place yet
        e = FindEntry{};
        e.strName = pEnt->d_name;
        if (!bSizes && (pEnt->d_type == DT_DIR || pEnt->d_type == DT_REG)) {
            e.bDir = pEnt->d_type == DT_DIR;
        } else if (!LookUp(share, strDir, dfd, pEnt->d_name, e)) {
            continue;  // vanished between the read and the look-up
        }
        if (!e.bDir && !own.Empty())
            e.bOwn = IsOwnEntry(own, share, strDir, dfd, *pEnt, e.bLink, folderId);
        fnEntry(e);
    }
    closedir(pDir);
    return 0;
}

int MeasureDirectory(const CShare& share, const std::string& strDir, uint64_t& ullCount, uint64_t& ullNameBytes)
{
    ullCount = ullNameBytes = 0;
    DIR* pDir = OpenFolder(share, strDir);
    if (pDir == nullptr)
        return -1;
    while (dirent* pEnt = readdir(pDir)) {
        if (IsCopyTemporaryName(pEnt->d_name))
            continue;
        ++ullCount;
        ullNameBytes += strlen(pEnt->d_name);
    }
    closedir(pDir);
    return 0;
}

}  // namespace plat
