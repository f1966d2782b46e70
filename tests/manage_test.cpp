// File and folder management and the size queries over loopback: FC_FILE_DEL_REQ,
// FC_MKDIR_REQ, FC_RMDIR_REQ, FC_DISK_SIZE_REQ and FC_FILE_SIZE_REQ.
#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;

// No write permission for anyone; on Windows the read-only attribute.
void MakeReadOnly(const std::string& path)
{
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read, ec);
    EXPECT_FALSE(ec) << path << ": " << ec.message();
}

class ManageFixture : public SessionFixture {
protected:
    // The status byte of a single-status reply; -1 when the reply is not one.
    int Status(uint8_t req, const std::string& path)
    {
        return client.Status(req, PathPayload(path), static_cast<uint8_t>(req ^ 0xF0));
    }
    int Del(const std::string& path) { return Status(8, path); }
    int Mkdir(const std::string& path) { return Status(9, path); }
    int Rmdir(const std::string& path) { return Status(10, path); }
    std::string FileSize(const std::string& path) { return client.Ask(16, PathPayload(path), 0xE0); }
};

using FileManage = ManageFixture;

TEST_F(FileManage, MkdirCreatesOnlyNewFoldersWithExistingParent)
{
    fs::create_directory(share.Path("exists"));
    share.WriteFile("plain.txt", "a file");
    EXPECT_EQ(Mkdir("/exists"), 1);
    EXPECT_EQ(Mkdir("/plain.txt"), 1);
    EXPECT_EQ(Mkdir("/missing/child"), 1);
    EXPECT_FALSE(Exists(share.Path("missing")));
    EXPECT_EQ(Mkdir("/new"), 0);
    EXPECT_TRUE(fs::is_directory(share.Path("new")));
    EXPECT_EQ(Mkdir("\\exists\\inner"), 0);
    EXPECT_TRUE(fs::is_directory(share.Path("exists/inner")));
    EXPECT_EQ(Mkdir("/new"), 1);
    EXPECT_EQ(client.Ask(9, "\x01/no-terminator", 0xF9), "\xFF");  // the payload must end in its 0
    EXPECT_FALSE(Exists(share.Path("no-terminator")));
}

TEST_F(FileManage, DeleteRemovesOnlyWritableFiles)
{
    share.WriteFile("dir/sub/file.txt", "delete me");
    share.WriteFile("dir/sub/other.txt", "delete me too");
    share.WriteFile("ro.txt", "read-only");
    MakeReadOnly(share.Path("ro.txt"));
    EXPECT_EQ(Del("/dir/sub/file.txt"), 0);
    EXPECT_FALSE(Exists(share.Path("dir/sub/file.txt")));
    EXPECT_EQ(Del("\\dir\\sub\\other.txt"), 0);
    EXPECT_FALSE(Exists(share.Path("dir/sub/other.txt")));
    EXPECT_EQ(Del("/ro.txt"), 1);
    EXPECT_EQ(share.ReadFile("ro.txt"), "read-only");
    EXPECT_EQ(Del("/dir/sub"), 1);
    EXPECT_TRUE(fs::is_directory(share.Path("dir/sub")));
    EXPECT_EQ(Del("/missing.txt"), 1);
}

// A file another session has open for download is in use. Files up to 10,485,760 bytes
// are read into memory and closed at once; larger ones stay open while held.
TEST_F(FileManage, DeleteOfFileHeldForDownloadFails)
{
    share.WriteFile("small.bin", "s");
    CStbSession holder(server.Port());
    for (const size_t size : {size_t{10485761}, size_t{10485760}}) {
        SCOPED_TRACE(size);
        share.WriteFile("big.bin", std::string(size, 'B'));
        EXPECT_EQ(holder.Ask(2, PathPayload("/big.bin"), 0xF2),
                  std::string(1, '\0') + U32(static_cast<uint32_t>(size)));
        if (size > 10485760) {
            EXPECT_EQ(Del("/big.bin"), 1);
            EXPECT_EQ(fs::file_size(share.Path("big.bin")), size);
            // Opening another file lets the first go; then it can be deleted.
            EXPECT_EQ(holder.Ask(2, PathPayload("/small.bin"), 0xF2), std::string(1, '\0') + U32(1));
        }
        EXPECT_EQ(Del("/big.bin"), 0);
        EXPECT_FALSE(Exists(share.Path("big.bin")));
    }
}

TEST_F(FileManage, RmdirRemovesTreesButKeepsReadOnlyFilesAndTheirParents)
{
    share.WriteFile("tree/a/b/c.txt", "c");
    share.WriteFile("tree/top.txt", "t");
    fs::create_directories(share.Path("tree/empty/deeper"));
    EXPECT_EQ(Rmdir("/tree"), 0);
    EXPECT_FALSE(Exists(share.Path("tree")));
    EXPECT_EQ(Rmdir("/missing"), 0);

    share.WriteFile("keep/x/y/ro.txt", "stays");
    share.WriteFile("keep/x/gone.txt", "goes");
    share.WriteFile("keep/z/gone.txt", "goes");
    MakeReadOnly(share.Path("keep/x/y/ro.txt"));
    EXPECT_EQ(Rmdir("\\keep"), 0);
    EXPECT_EQ(share.ReadFile("keep/x/y/ro.txt"), "stays");
    EXPECT_FALSE(Exists(share.Path("keep/x/gone.txt")));
    EXPECT_FALSE(Exists(share.Path("keep/z")));
}

// The shared folder itself is never wiped, however the STB names it.
TEST_F(FileManage, RmdirOfSharedFolderItselfIsRefused)
{
    share.WriteFile("content/file.txt", "precious");
    share.WriteFile("top.txt", "precious too");
    for (const char* path : {"/", "\\", ".", "/.", "/./", "\\.\\", "//"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Rmdir(path), 1);
        EXPECT_EQ(share.ReadFile("content/file.txt"), "precious");
        EXPECT_EQ(share.ReadFile("top.txt"), "precious too");
    }
    // The empty path: tag, the path's terminating 0, the payload's last 0.
    EXPECT_EQ(client.Ask(10, std::string("\x01\x00\x00", 3), 0xFA), "\x01");
    EXPECT_EQ(share.ReadFile("content/file.txt"), "precious");
}

// Symbolic links inside a removed tree, or the removed path itself, are never followed.
TEST_F(FileManage, RmdirNeverDeletesThroughSymlinks)
{
    const std::string outside = share.Root() + "/outside";
    fs::create_directories(outside + "/inner");
    WriteLocalFile(outside + "/inner/keep.txt", "outside");
    WriteLocalFile(outside + "/keep.txt", "outside");
    share.WriteFile("tree/file.txt", "in");
    std::error_code ec;
    fs::create_directory_symlink(outside, share.Path("tree/link"), ec);
#ifdef _WIN32
    if (ec)
        GTEST_SKIP() << "makes symbolic links, which need a privilege on Windows (and which Wine cannot make): "
                     << ec.message();
#endif
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_EQ(Rmdir("/tree"), 0);
    EXPECT_FALSE(Exists(share.Path("tree/link")));
    EXPECT_FALSE(Exists(share.Path("tree")));
    EXPECT_EQ(ReadLocalFile(outside + "/inner/keep.txt"), "outside");
    EXPECT_EQ(ReadLocalFile(outside + "/keep.txt"), "outside");

    fs::create_directory_symlink(outside, share.Path("direct"), ec);
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_EQ(Rmdir("/direct"), 0);
    EXPECT_EQ(ReadLocalFile(outside + "/inner/keep.txt"), "outside");
    EXPECT_EQ(ReadLocalFile(outside + "/keep.txt"), "outside");
}

// Every path command refuses a ".." component and touches nothing outside the share.
TEST_F(FileManage, ParentComponentIsRefusedByEveryCommand)
{
    const std::string root = share.Root();
    WriteLocalFile(root + "/secret.txt", "outside");
    fs::create_directories(root + "/outdir/inner");
    WriteLocalFile(root + "/outdir/inner/keep.txt", "outside");
    fs::create_directory(share.Path("sub"));
    for (const char* prefix : {"../", "/../", "\\..\\", "sub/../../", "sub\\..\\..\\"}) {
        const std::string p = prefix;
        SCOPED_TRACE(p);
        EXPECT_EQ(Del(p + "secret.txt"), 1);
        EXPECT_EQ(Mkdir(p + "made"), 1);
        EXPECT_EQ(Rmdir(p + "outdir"), 1);
        const std::string answer = FileSize(p + "secret.txt");
        EXPECT_TRUE(answer.size() == 5 && answer[0] == '\x01') << answer.size() << " bytes";
        EXPECT_EQ(ReadLocalFile(root + "/secret.txt"), "outside");
        EXPECT_FALSE(Exists(root + "/made"));
        EXPECT_EQ(ReadLocalFile(root + "/outdir/inner/keep.txt"), "outside");
    }
    EXPECT_EQ(Rmdir(".."), 1);
    EXPECT_EQ(Mkdir("sub/../inside"), 1);
    EXPECT_FALSE(Exists(share.Path("inside")));
    // ".." inside a name is an ordinary name.
    EXPECT_EQ(Mkdir("/a..b"), 0);
    EXPECT_TRUE(fs::is_directory(share.Path("a..b")));
    if (UnderWine())
        GTEST_SKIP() << "Wine's GetFinalPathNameByHandleW drops the trailing dots of a name (\"...\" ends up \"\"), "
                        "so a folder named \"...\" is never itself there; Windows keeps them";
    EXPECT_EQ(Mkdir("/..."), 0);
    EXPECT_TRUE(fs::is_directory(share.Path("...")));
}

using SpaceAndSize = ManageFixture;

TEST_F(SpaceAndSize, FileSizeReplyFormFollowsLength)
{
    share.WriteFile("hundred.bin", std::string(100, 'h'));
    share.WriteFile("empty.bin", "");
    MakeSparse(share.Path("five_g.bin"), 5000000000ULL);
    MakeSparse(share.Path("max32.bin"), 0xFFFFFFFFULL);
    MakeSparse(share.Path("four_g.bin"), k4GiB);
    fs::create_directory(share.Path("folder"));
    EXPECT_EQ(FileSize("/hundred.bin"), std::string(1, '\0') + U32(100));
    EXPECT_EQ(FileSize("\\hundred.bin"), std::string(1, '\0') + U32(100));
    EXPECT_EQ(FileSize("/empty.bin"), std::string(1, '\0') + U64(0));
    EXPECT_EQ(FileSize("/five_g.bin"), std::string(1, '\0') + U64(5000000000ULL));
    EXPECT_EQ(FileSize("/max32.bin"), std::string(1, '\0') + U32(0xFFFFFFFF));
    EXPECT_EQ(FileSize("/four_g.bin"), std::string(1, '\0') + U64(0x100000000ULL));
    for (const char* path : {"/folder", "/missing.bin", "/folder/missing.bin"}) {
        SCOPED_TRACE(path);
        std::string answer = FileSize(path);
        ASSERT_EQ(answer.size(), 5u);
        EXPECT_EQ(answer[0], '\x01');
    }
    std::string answer = client.Ask(16, std::string("\x01/hundred.bin", 13), 0xE0);
    ASSERT_EQ(answer.size(), 5u);
    EXPECT_EQ(static_cast<uint8_t>(answer[0]), 0xFF);
}

// Free space is compared with a tolerance: other processes write to the same volume.
TEST_F(SpaceAndSize, DiskSizeCountsInRequestedUnitOrClusters)
{
    CVolumeFigures vol;
    ASSERT_TRUE(QueryVolume(share.Share(), vol));
    const uint64_t frsize = vol.ullClusterBytes;
    const uint64_t freeBytes = vol.ullFreeBytes, totalBytes = vol.ullTotalBytes;
    const uint64_t drift = 256ULL << 20;
    struct Case {
        std::string payload;
        uint32_t unit;
    } cases[] = {
        {U32(1048576), 1048576},
        {U32(0), static_cast<uint32_t>(frsize)},
        {"", static_cast<uint32_t>(frsize)},
        // Shorter than a unit field: no unit asked for (read as a unit, it would be 3).
        {std::string("\x03\x00\x00", 3), static_cast<uint32_t>(frsize)},
        {U32(1), 1},
        {U32(4096) + "extra", 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.payload.size() << " bytes, unit " << c.unit);
        std::string answer = client.Ask(15, c.payload, 0xFF);
        ASSERT_EQ(answer.size(), 12u);
        EXPECT_EQ(GetU32(answer, 0), c.unit);
        EXPECT_EQ(GetU32(answer, 8), static_cast<uint32_t>(totalBytes / c.unit));
        // Counts keep their low 32 bits: compare the difference modulo 2^32.
        const uint32_t wantFree = static_cast<uint32_t>(freeBytes / c.unit);
        const int32_t diff = static_cast<int32_t>(GetU32(answer, 4) - wantFree);
        EXPECT_LE(static_cast<uint64_t>(diff < 0 ? -static_cast<int64_t>(diff) : diff), drift / c.unit + 1)
            << "free " << GetU32(answer, 4) << ", the system says " << wantFree;
    }
}

}  // namespace
