#include "platform/ownfiles.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "platform/common/ownfiles_sys.h"
#include "platform/posix/beneath.h"
#include "platform/posix/ownid.h"

namespace plat {

namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The path with every link and "." resolved, or empty when it cannot be.
std::string RealPath(const std::string& strPath)
{
    char* psz = realpath(strPath.c_str(), nullptr);
    if (psz == nullptr)
        return std::string();
    std::string str(psz);
    free(psz);
    return str;
}

// The path resolved as far as it exists; the names below the last existing folder are
// added as written ("." and empty ones left out). Empty when nothing of it resolves, or a
// name below it is "..", which only the system could place.
std::string ResolvedAsFarAsItExists(const std::string& strPath)
{
    std::string strHead = strPath;
    std::string strTail;  // the names that do not exist yet, '/' before each
    for (;;) {
        while (strHead.size() > 1 && strHead.back() == '/')
            strHead.pop_back();
        std::string strReal = RealPath(strHead);
        if (!strReal.empty()) {
            if (strReal.size() > 1 || strTail.empty())
                return strReal + strTail;
            return strTail;  // below the root "/"
        }
        const size_t n = strHead.rfind('/');
        if (n == std::string::npos || strHead.size() <= 1)
            return std::string();
        const std::string strName = strHead.substr(n + 1);
        if (strName == "..")
            return std::string();
        if (!strName.empty() && strName != ".")
            strTail.insert(0, "/" + strName);
        strHead.resize(n == 0 ? 1 : n);
    }
}

}  // namespace

bool SameEntryName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

bool PositionBelow(const std::string& strFolder, const std::string& strPath, std::string& strRel)
{
    strRel.clear();
    const std::string strRoot = RealPath(strFolder);
    const std::string strReal = ResolvedAsFarAsItExists(strPath);
    if (strRoot.empty() || strReal.empty())
        return false;
    if (strRoot == "/") {
        strRel = strReal.substr(1);
        return true;
    }
    if (strReal.compare(0, strRoot.size(), strRoot) != 0)
        return false;
    if (strReal.size() == strRoot.size())
        return true;
    if (strReal[strRoot.size()] != '/')
        return false;  // "/srv/media2" does not lie in "/srv/media"
    strRel = strReal.substr(strRoot.size() + 1);
    return true;
}

bool FileIdOfPath(const std::string& strPath, CFileId& id)
{
    struct stat st;
    if (stat(strPath.c_str(), &st) != 0)
        return false;
    id = IdOf(st);
    return true;
}

namespace {

// The folders from the nearest existing one above the path up to the shared folder
// (rootId), added to way when the shared folder is met.
void WalkUp(const CFileId& rootId, const std::string& strPath, std::vector<CFileId>& way)
{
    struct stat st;
    // The nearest folder above the path that exists, links followed as the daemon
    // follows them when it reads its files.
    std::string strDir = strPath;
    CFd cur;
    while (!cur.Ok()) {
        const size_t n = strDir.find_last_of('/');
        if (n == std::string::npos || strDir.size() <= 1)
            return;
        strDir.resize(n == 0 ? 1 : n);
        cur = CFd(open(strDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    // Up by ".." to the shared folder; a path that never meets it does not lie in it.
    std::vector<CFileId> found;
    for (int nDepth = 0; nDepth < 4096; ++nDepth) {
        if (fstat(cur.Get(), &st) != 0)
            return;
        found.push_back(IdOf(st));
        if (found.back() == rootId) {
            way.insert(way.end(), found.begin(), found.end());
            return;
        }
        CFd up(openat(cur.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat upSt;
        if (!up.Ok() || fstat(up.Get(), &upSt) != 0 || IdOf(upSt) == found.back())
            return;  // the top of the file system
        cur = CFd(up.Release());
    }
}

}  // namespace

void FoldersOnTheWay(const CShare& share, const std::string& strPath, std::vector<CFileId>& way)
{
    struct stat st;
    CFd root(open(share.strRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root.Ok() || fstat(root.Get(), &st) != 0)
        return;
    const CFileId rootId = IdOf(st);
    WalkUp(rootId, strPath, way);
    const std::string strReal = RealPath(strPath);
    if (!strReal.empty() && strReal != strPath)
        WalkUp(rootId, strReal, way);
}

void LookUpBeneath(const CShare& share, const std::string& strPath, std::optional<CFileId>& target,
                   std::optional<CFileId>& folder, std::string& strLast)
{
    struct stat st;
    CFd fd(OpenBeneath(share, strPath, O_PATH));
    if (fd.Ok() && fstat(fd.Get(), &st) == 0)
        target = IdOf(st);
    folder = FolderIdBeneath(share, strPath, strLast);
}

std::optional<CFileId> FolderIdBeneath(const CShare& share, const std::string& strPath, std::string& strLast)
{
    CFd parent(OpenParentBeneath(share, strPath, strLast));
    struct stat st;
    if (!parent.Ok() || fstat(parent.Get(), &st) != 0)
        return std::nullopt;
    return IdOf(st);
}

bool IsOwnFileInOperation(const struct stat& st)
{
    const COwnFiles* pOwn = OwnFilesOfOperation();
    return pOwn != nullptr && !pOwn->Empty() && pOwn->IsFile(IdOf(st));
}

bool IsOwnPlaceInOperation(int dirfd, const char* pszName)
{
    const COwnFiles* pOwn = OwnFilesOfOperation();
    if (pOwn == nullptr || !pOwn->HasName(pszName))
        return false;
    struct stat st;
    return fstat(dirfd, &st) == 0 && pOwn->IsPlace(IdOf(st), pszName);
}

}  // namespace plat
