#include "tests/test_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>

#include "tests/test_util.h"

namespace fs = std::filesystem;

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool IsDir(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsLink(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

int64_t LengthOf(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

std::string ReadRange(const std::string& path, uint64_t off, size_t n)
{
    std::string s(n, '\0');
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t got = fd >= 0 ? pread(fd, s.data(), n, static_cast<off_t>(off)) : -1;
    if (fd >= 0)
        close(fd);
    s.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return s;
}

void MakeSparse(const std::string& path, uint64_t size, const std::vector<std::pair<uint64_t, std::string>>& chunks)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    EXPECT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0) << path;
    for (const auto& [off, bytes] : chunks)
        EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(off)), static_cast<ssize_t>(bytes.size()))
            << path << " at " << off;
    close(fd);
}

std::string MakeLink(const std::string& target, const std::string& link, bool bDir)
{
    std::error_code ec;
    if (bDir)
        fs::create_directory_symlink(target, link, ec);
    else
        fs::create_symlink(target, link, ec);
    return ec ? ec.message() : std::string();
}

uint64_t FreeBytes(const std::string& path)
{
    struct statvfs sv;
    EXPECT_EQ(statvfs(path.c_str(), &sv), 0) << path;
    return static_cast<uint64_t>(sv.f_bfree) * sv.f_frsize;
}

bool QueryVolume(const std::string& strPath, CVolumeFigures& figures)
{
    struct statvfs sv;
    if (statvfs(strPath.c_str(), &sv) != 0)
        return false;
    figures.ullClusterBytes = sv.f_frsize;
    figures.ullFreeBytes = static_cast<uint64_t>(sv.f_bfree) * sv.f_frsize;
    figures.ullTotalBytes = static_cast<uint64_t>(sv.f_blocks) * sv.f_frsize;
    return true;
}

int64_t AllocatedBytes(const std::string& strPath)
{
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_blocks) * 512 : -1;
}

bool HeldExclusively(const std::string& strPath)
{
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool bHeld = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return bHeld;
}

CHeldFile::CHeldFile(const std::string& strPath)
{
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    m_nHandle = fd;
    m_bHeld = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
}

CHeldFile::~CHeldFile()
{
    if (m_nHandle >= 0)
        close(static_cast<int>(m_nHandle));
}
