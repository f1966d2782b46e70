#include "tests/test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>
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

uint64_t FreeBytes(const std::string& path)
{
    struct statvfs sv;
    EXPECT_EQ(statvfs(path.c_str(), &sv), 0) << path;
    return static_cast<uint64_t>(sv.f_bfree) * sv.f_frsize;
}
