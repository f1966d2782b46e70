// File download over loopback: FC_FILE_DN_REQ, FC_DATA_REQ and FC_BIGFILE_DATA_REQ.
#include <gtest/gtest.h>

#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

class DownloadFixture : public SessionFixture {
protected:
    // Sends the open request and returns the reply.
    CReply Open(uint8_t req, const std::string& path) { return client.Exchange(req, PathPayload(path, '\x05')); }
};

using FileDownload = DownloadFixture;

TEST_F(FileDownload, WorkedFramesAreByteExact)
{
    share.WriteFile("f5000.bin", RandomBytes(5000, 1));
    share.WriteFile("empty.bin", "");
    client.SendFrame(2, PathPayload("/f5000.bin", '\x05'));
    EXPECT_EQ(client.RecvBytes(10), std::string("\xA5\x07\x00\xF2\x00\x88\x13\x00\x00\xCB", 10));
    client.SendFrame(3, U32(5000) + U32(100));
    EXPECT_EQ(client.RecvBytes(9), std::string("\xA5\x06\x00\xF3\x88\x13\x00\x00\xCC", 9));
    client.SendFrame(2, PathPayload("empty.bin", '\x05'));
    EXPECT_EQ(client.RecvBytes(14), std::string("\xA5\x0B\x00\xD9\x00\x00\x00\x00\x00\x00\x00\x00\x00\x17", 14));
    EXPECT_TRUE(client.Settled());
}

// The size reply picks its form by the file length: the 32-bit form only for 1..2^32-1.
TEST_F(FileDownload, SizeReplyFormFollowsLengthAndRequest)
{
#ifdef _WIN32
    GTEST_SKIP() << "replaces a file the session still holds open, which Windows' share modes forbid";
#endif
    struct Case {
        uint8_t req;
        uint64_t size;
        uint8_t reply;
        bool longForm;
    } cases[] = {
        {2, 5000, 0xF2, false},        {34, 5000, 0xD2, false},       {2, 0, 0xD9, true},
        {34, 0, 0xD5, true},           {2, k4GiB - 1, 0xF2, false},   {34, k4GiB - 1, 0xD2, false},
        {2, k4GiB, 0xD9, true},        {34, k4GiB + 5000, 0xD5, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "request " << int(c.req) << ", " << c.size << " bytes");
        MakeSparse(share.Path("s.bin"), c.size, {});
        auto [cmd, payload] = Open(c.req, "s.bin");
        EXPECT_EQ(cmd, c.reply);
        EXPECT_EQ(payload, std::string(1, '\0') + (c.longForm ? U64(c.size) : U32(static_cast<uint32_t>(c.size))));
    }
}

TEST_F(FileDownload, RangePastEndIsClampedToFileLength)
{
    const std::string bytes = RandomBytes(5000, 2);
    share.WriteFile("f.bin", bytes);
    ASSERT_EQ(Open(2, "f.bin").first, 0xF2);
    EXPECT_TRUE(SameBytes(client.Fetch(3, 100, 10000, 4900), bytes.substr(100)));  // 4,096 then 804
    EXPECT_TRUE(SameBytes(client.Fetch(35, 100, 10000, 4900), bytes.substr(100))); // one frame of 4,900
    EXPECT_TRUE(SameBytes(client.Fetch(3, 4999, 0xFFFFFFFF, 1), bytes.substr(4999)));
    EXPECT_EQ(client.Fetch(3, 5001, 10, 0), "");
    EXPECT_EQ(client.Fetch(3, 0xFFFFFFFF, 0xFFFFFFFF, 0), "");
    EXPECT_EQ(client.Fetch(35, 10, 0, 0), "");
}

TEST_F(FileDownload, ExactBlockMultipleHasNoShortTrailingFrame)
{
    const std::string bytes = RandomBytes(65536, 3);
    share.WriteFile("f.bin", bytes);
    ASSERT_EQ(Open(2, "f.bin").first, 0xF2);
    // Fetch checks the frame sizes and that nothing follows the last full block.
    EXPECT_TRUE(SameBytes(client.Fetch(3, 0, 8192, 8192), bytes.substr(0, 8192)));
    EXPECT_TRUE(SameBytes(client.Fetch(35, 0, 65536, 65536), bytes));
    EXPECT_TRUE(SameBytes(client.Fetch(35, 4096, 100000, 61440), bytes.substr(4096)));
}

// 10,485,760 bytes is the largest file held in memory; one more byte is served from disk.
TEST_F(FileDownload, BufferedAndDirectFilesAroundTheLimitServeTheirBytes)
{
    for (size_t size : {size_t{10485760}, size_t{10485761}}) {
        SCOPED_TRACE(size);
        const std::string bytes = RandomBytes(size, static_cast<unsigned>(size));
        share.WriteFile("big.bin", bytes);
        auto [cmd, payload] = Open(34, "big.bin");
        ASSERT_EQ(cmd, 0xD2);
        EXPECT_EQ(payload, std::string(1, '\0') + U32(static_cast<uint32_t>(size)));
        EXPECT_TRUE(SameBytes(client.Fetch(35, 0, 0xFFFFFFFF, size), bytes));
        EXPECT_TRUE(SameBytes(client.Fetch(35, 5000000, 70000, 70000), bytes.substr(5000000, 70000)));
        EXPECT_TRUE(SameBytes(client.Fetch(35, size - 1, 1, 1), bytes.substr(size - 1)));
        EXPECT_TRUE(SameBytes(client.Fetch(3, size - 5000, 9000, 5000), bytes.substr(size - 5000)));
        EXPECT_EQ(client.Fetch(35, size, 1, 0), "");
    }
}

TEST_F(FileDownload, FileAbove4GiBServesRangesAt64BitOffsets)
{
    const uint64_t size = k4GiB + 5000;
    const std::string path = share.Path("huge.bin");
    MakeSparse(path, size, {{0, "head of the file"}, {k4GiB - 10, "across the 4 GiB line"}, {size - 9, "the tail!"}});
    auto [cmd, payload] = Open(2, "huge.bin");
    ASSERT_EQ(cmd, 0xD9);
    EXPECT_EQ(payload, std::string(1, '\0') + U64(size));

    EXPECT_TRUE(SameBytes(client.Fetch(38, 0, 16, 16), "head of the file"));
    EXPECT_TRUE(SameBytes(client.Fetch(38, k4GiB - 10, 21, 21), "across the 4 GiB line"));
    EXPECT_TRUE(SameBytes(client.Fetch(42, k4GiB - 5000, 10000, 10000), ReadRange(path, k4GiB - 5000, 10000)));
    EXPECT_TRUE(SameBytes(client.Fetch(38, k4GiB - 40000, 70000, 45000), ReadRange(path, k4GiB - 40000, 45000)));
    EXPECT_TRUE(SameBytes(client.Fetch(42, size - 9, ~0ULL, 9), "the tail!"));  // no overflow of o + s
    EXPECT_EQ(client.Fetch(38, size, 1, 0), "");
    EXPECT_EQ(client.Fetch(42, ~0ULL, 1, 0), "");
    // A 32-bit request on a file recorded in 64 bits clamps against the open file's length.
    EXPECT_TRUE(SameBytes(client.Fetch(3, 0xFFFFFFF6, 21, 21), "across the 4 GiB line"));
}

TEST_F(FileDownload, FileOf4GiBMinusOneIsServedUpToItsLastByte)
{
    const std::string path = share.Path("edge.bin");
    MakeSparse(path, k4GiB - 1, {{k4GiB - 15, "last 14 bytes!"}});
    ASSERT_EQ(Open(2, "edge.bin"), CReply(0xF2, std::string(1, '\0') + U32(0xFFFFFFFF)));
    EXPECT_TRUE(SameBytes(client.Fetch(3, 0xFFFFFFF0, 0x100, 15), ReadRange(path, 0xFFFFFFF0, 15)));
    EXPECT_EQ(client.Fetch(3, 0xFFFFFFFF, 1, 0), "");
}

// Data requests of the width the sizing reply did not use must stay within what is held.
TEST_F(FileDownload, OtherWidthRequestNeverReadsPastHeldData)
{
    const std::string bytes = RandomBytes(5000, 4);
    share.WriteFile("f.bin", bytes);
    share.WriteFile("empty.bin", "");
    ASSERT_EQ(Open(2, "f.bin").first, 0xF2);
    EXPECT_TRUE(SameBytes(client.Fetch(42, 0, 1000000, 5000), bytes));
    EXPECT_TRUE(SameBytes(client.Fetch(38, 4000, 1ULL << 40, 1000), bytes.substr(4000)));
    EXPECT_EQ(client.Fetch(38, 5000, 10, 0), "");
    EXPECT_EQ(client.Fetch(42, k4GiB + 100, 10, 0), "");
    ASSERT_EQ(Open(2, "empty.bin").first, 0xD9);
    EXPECT_EQ(client.Fetch(3, 0, 100, 0), "");
    EXPECT_EQ(client.Fetch(42, 0, 100, 0), "");
}

// An open that fails releases what the previous one held.
TEST_F(FileDownload, FailedOpenDropsPreviousTransfer)
{
    share.WriteFile("small.bin", RandomBytes(5000, 5));
    share.WriteFile("large.bin", RandomBytes(10485761, 6));
    share.WriteFile("dir/inner.txt", "x");
    for (const char* first : {"small.bin", "large.bin"}) {
        for (const char* second : {"missing.bin", "dir", "/no/such/folder/file"}) {
            SCOPED_TRACE(::testing::Message() << first << " then " << second);
            ASSERT_EQ(Open(2, first).first, 0xF2);
            auto [cmd, payload] = Open(2, second);
            EXPECT_EQ(cmd, 0xF2);
            ASSERT_EQ(payload.size(), 5u);
            EXPECT_EQ(payload[0], '\x01');
            EXPECT_EQ(client.Fetch(3, 0, 100, 0), "");
            EXPECT_EQ(client.Fetch(42, 0, 100, 0), "");
        }
    }
}

// Fields a short request leaves out read as 0, never as bytes of an earlier frame.
TEST_F(FileDownload, ShortDataRequestReadsMissingFieldsAsZero)
{
    const std::string bytes = RandomBytes(5000, 7);
    share.WriteFile("a_folder_with_a_long_name/f.bin", bytes);
    struct Case {
        uint8_t req;
        std::string payload;
        uint64_t off;
        uint64_t nExpect;
    } cases[] = {
        {3, U32(16), 16, 0},
        {3, std::string("\x10\x00", 2), 16, 0},
        {3, "", 0, 0},
        {3, U32(16) + std::string("\x64\x00", 2), 16, 100},
        {42, U64(16), 16, 0},
        {42, U64(16) + std::string("\x64\x00\x00", 3), 16, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "request " << int(c.req) << ", " << c.payload.size() << " bytes");
        // The long open request leaves non-zero bytes behind the short one's end.
        ASSERT_EQ(Open(2, "/a_folder_with_a_long_name/f.bin").first, 0xF2);
        const CDataForm form = DataFormOf(c.req);
        client.SendFrame(c.req, c.payload);
        uint8_t cmd = 0;
        std::string payload;
        ASSERT_TRUE(client.RecvFrame(cmd, payload));
        EXPECT_EQ(cmd, form.ucReply);
        ASSERT_EQ(payload.size(), form.nWidth + c.nExpect);
        EXPECT_EQ(GetLE(payload, 0, form.nWidth), c.off);
        EXPECT_EQ(payload.substr(form.nWidth), bytes.substr(c.off, c.nExpect));
        EXPECT_TRUE(client.Settled());
    }
}

// A path with a ".." component never reaches outside the shared folder.
TEST_F(FileDownload, ParentComponentIsRefusedAndDropsPreviousTransfer)
{
    WriteLocalFile(share.Root() + "/secret.txt", "outside the shared folder");
    share.WriteFile("sub/ok.bin", RandomBytes(100, 9));
    share.WriteFile("a..b", "dots inside a name");
    for (const char* path : {"../secret.txt", "/../secret.txt", "\\..\\secret.txt", "sub/../../secret.txt",
                             "sub\\..\\..\\secret.txt", "sub/../ok.bin", ".."}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(Open(2, "sub/ok.bin").first, 0xF2);
        auto [cmd, payload] = Open(2, path);
        EXPECT_EQ(cmd, 0xF2);
        ASSERT_EQ(payload.size(), 5u);
        EXPECT_EQ(payload[0], '\x01');
        EXPECT_EQ(client.Fetch(3, 0, 100, 0), "");
    }
    // ".." inside a name is no parent component.
    ASSERT_EQ(Open(2, "a..b").first, 0xF2);
    EXPECT_EQ(client.Fetch(3, 0, 100, 18), "dots inside a name");
}

}  // namespace
