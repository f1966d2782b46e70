#include "platform/shellop.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace plat {

namespace fs = std::filesystem;

namespace {

bool IsReadOnlyFile(const fs::path& p)
{
    struct stat st;
    return lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

// Copies one item (a file, a link, or a folder with all below it). Goes on after a
// failure so that as much as possible is copied; the result says whether all was.
int CopyItem(const fs::path& src, const fs::path& dst)
{
    std::error_code ec;
    fs::file_status st = fs::symlink_status(src, ec);
    if (ec)
        return -1;
    fs::file_status dstSt = fs::symlink_status(dst, ec);
    const bool bDstExists = !ec && fs::exists(dstSt);
    if (fs::is_symlink(st)) {
        if (bDstExists && (fs::is_directory(dstSt) || IsReadOnlyFile(dst) || !fs::remove(dst, ec)))
            return -1;
        fs::copy_symlink(src, dst, ec);
        return ec ? -1 : 0;
    }
    if (fs::is_directory(st)) {
        if (bDstExists && !fs::is_directory(dstSt))
            return -1;
        if (!bDstExists && !fs::create_directory(dst, src, ec))
            return -1;
        int rc = 0;
        fs::directory_iterator it(src, ec), end;
        if (ec)
            return -1;
        for (; it != end; it.increment(ec)) {
            if (CopyItem(it->path(), dst / it->path().filename()) != 0)
                rc = -1;
        }
        return ec ? -1 : rc;
    }
    if (!fs::is_regular_file(st))
        return -1;  // devices, pipes and sockets are not copied
    if (bDstExists && (!fs::is_regular_file(dstSt) || IsReadOnlyFile(dst)))
        return -1;
    fs::copy_file(src, dst, fs::copy_options::overwrite_existing, ec);
    return ec ? -1 : 0;
}

// True when target is the folder itself or lies below it.
bool IsInsideFolder(const fs::path& folder, const fs::path& target)
{
    std::error_code ec;
    fs::path f = fs::weakly_canonical(folder, ec);
    if (ec)
        return false;
    fs::path t = fs::weakly_canonical(target, ec);
    if (ec)
        return false;
    auto fi = f.begin(), ti = t.begin();
    for (; fi != f.end(); ++fi, ++ti) {
        if (fi->empty())
            continue;  // a trailing separator
        if (ti == t.end() || *fi != *ti)
            return false;
    }
    return true;
}

fs::path WithoutTrailingSeparators(std::string str)
{
    while (str.size() > 1 && str.back() == '/')
        str.pop_back();
    return fs::path(str);
}

}  // namespace

int ShellFileOperation(const CFileOp& op)
{
    if (op.pFrom == nullptr || op.pTo == nullptr || *op.pFrom == '\0' || *op.pTo == '\0')
        return -1;
    const fs::path src = WithoutTrailingSeparators(op.pFrom);
    std::error_code ec;
    fs::file_status st = fs::symlink_status(src, ec);
    if (ec || !fs::exists(st))
        return -1;
    fs::path dst = WithoutTrailingSeparators(op.pTo);
    if (fs::is_directory(fs::status(dst, ec)))
        dst /= src.filename();
    if (fs::is_directory(st) && IsInsideFolder(src, dst))
        return -1;  // a folder copied into itself would grow until the volume is full
    if (fs::equivalent(src, dst, ec))
        return op.wFunc == FileOpFunc::Move ? 0 : -1;

    if (op.wFunc == FileOpFunc::Copy)
        return CopyItem(src, dst);

    // A move is a rename where it can be; across file systems, or onto a folder that
    // already exists, it is a copy followed by the removal of what was copied.
    if (IsReadOnlyFile(dst))
        return -1;
    if (rename(src.c_str(), dst.c_str()) == 0)
        return 0;
    if (errno != EXDEV && errno != ENOTEMPTY && errno != EEXIST)
        return -1;
    if (CopyItem(src, dst) != 0)
        return -1;
    fs::remove_all(src, ec);
    return ec ? -1 : 0;
}

}  // namespace plat
