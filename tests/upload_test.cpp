// File upload over loopback: FC_FILE_UP_REQ, FC_BIGFILE_UP_REQ and their data requests.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kLargestBuffered = 10485760;
constexpr uint64_t kSmallestDirect = kLargestBuffered + 1;
constexpr size_t kFullBlock = 65525;  // the most a frame carries behind a 64-bit offset

// Whether the test may read a file that an upload holds. An flock binds only those who
// ask for one; Windows' share modes keep every other opener out of it.
#ifdef _WIN32
constexpr bool kReadWhileHeld = false;
#else
constexpr bool kReadWhileHeld = true;
#endif
const char kNotReadWhileHeld[] = "the bytes written while the upload holds its file are not read: Windows' share "
                                 "modes keep every other opener out of it (an flock would not)";

int DataWidth(uint8_t req) { return req == 40 || req == 44 ? 8 : 4; }

std::string OpenPayload(uint8_t req, uint64_t size, const std::string& path)
{
    return std::string(1, '\x05') + LE(size, req == 39 || req == 43 ? 8 : 4) + path + '\0';
}

class FileUpload : public SessionFixture {
protected:
    // Sends the bytes in full blocks from the offset on; each block must be taken whole.
    void SendAll(uint8_t req, const std::string& bytes, uint64_t from = 0)
    {
        for (size_t at = 0; at < bytes.size(); at += kFullBlock) {
            const std::string block = bytes.substr(at, kFullBlock);
            ASSERT_EQ(client.UploadBlock(req, from + at, block), block.size()) << "block at " << from + at;
        }
    }

    struct Step {
        uint64_t off;
        size_t len;
        uint64_t taken;  // the count the reply must show
        bool stored;     // whether the taken bytes must end up in the file
    };

    // One upload in the given steps, after its first `prefix` bytes in full blocks. The
    // file must exist at its full length as soon as it is announced, and in the end hold
    // exactly the stored bytes (zeros elsewhere).
    void RunSteps(uint8_t open, uint8_t data, uint64_t size, const std::vector<Step>& steps, uint64_t prefix = 0)
    {
        const std::string path = share.Path("up.bin");
        ASSERT_EQ(client.UploadOpen(open, size, "/up.bin"), 0);
        EXPECT_EQ(LengthOf(path), static_cast<int64_t>(size));
        std::string want(size, '\0');
        want.replace(0, prefix, RandomBytes(prefix, 99));
        SendAll(data, want.substr(0, prefix));
        for (size_t i = 0; i < steps.size(); ++i) {
            const Step& s = steps[i];
            const std::string bytes = RandomBytes(s.len, static_cast<unsigned>(100 + i));
            EXPECT_EQ(client.UploadBlock(data, s.off, bytes), s.taken) << "step " << i;
            if (s.stored)
                want.replace(s.off, s.taken, bytes, 0, s.taken);
        }
        EXPECT_TRUE(client.Settled());
        EXPECT_TRUE(SameBytes(share.ReadFile("up.bin"), want));
        EXPECT_FALSE(HeldExclusively(path)) << "the finished upload still holds its file";
    }
};

TEST_F(FileUpload, WorkedFramesAreByteExact)
{
    const std::string bytes = RandomBytes(1000, 1);
    client.SendFrame(13, OpenPayload(13, 1000, "/a.bin"));
    EXPECT_EQ(client.RecvBytes(6), std::string("\xA5\x03\x00\xFD\x00\x3B", 6));
    client.SendFrame(14, LE(0, 4) + bytes.substr(0, 100));
    EXPECT_EQ(client.RecvBytes(13), std::string("\xA5\x0A\x00\xFE\x00\x00\x00\x00\x64\x00\x00\x00\xA0", 13));
    EXPECT_EQ(client.UploadBlock(14, 100, bytes.substr(100)), 900u);
    EXPECT_TRUE(client.Settled());
    EXPECT_TRUE(SameBytes(share.ReadFile("a.bin"), bytes));
}

// The two bytes of a pair differ only in the reply byte; 40 and 44 both answer 0xFE.
TEST_F(FileUpload, EachRequestByteAnswersWithItsReplyByte)
{
    struct Case {
        uint8_t open, openReply, data, dataReply;
    } cases[] = {{13, 0xFD, 14, 0xFE}, {45, 0xDD, 46, 0xDE}, {39, 0xDD, 40, 0xFE}, {43, 0xFD, 44, 0xFE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "requests " << int(c.open) << " and " << int(c.data));
        const std::string name = 'r' + std::to_string(c.open) + ".bin";
        const std::string bytes = RandomBytes(3000, c.open);
        EXPECT_EQ(client.Exchange(c.open, OpenPayload(c.open, bytes.size(), name)),
                  CReply(c.openReply, std::string(1, '\0')));
        const int w = DataWidth(c.data);
        for (auto [off, len] : {std::pair<size_t, size_t>{0, 2000}, {2000, 1000}})
            EXPECT_EQ(client.Exchange(c.data, LE(off, w) + bytes.substr(off, len)),
                      CReply(c.dataReply, LE(off, w) + LE(len, w)));
        EXPECT_TRUE(client.Settled());
        EXPECT_TRUE(SameBytes(share.ReadFile(name), bytes));
    }
}

// Up to 10 MiB the blocks are collected in memory and written with the last one; a byte more
// and the file is written block by block. Both hold the file under an exclusive lock.
TEST_F(FileUpload, UploadsAroundTheBufferLimitStoreEveryByte)
{
    struct Case {
        uint64_t size;
        uint8_t open, data;
        bool direct;
    } cases[] = {{kLargestBuffered, 13, 14, false}, {kSmallestDirect, 39, 40, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string path = share.Path("big.bin");
        const std::string bytes = RandomBytes(c.size, static_cast<unsigned>(c.size));
        ASSERT_EQ(client.UploadOpen(c.open, c.size, "/big.bin"), 0);
        EXPECT_EQ(LengthOf(path), static_cast<int64_t>(c.size));
        // Either kind holds its file locked until the last block: nobody can take it over.
        EXPECT_TRUE(HeldExclusively(path));
        const size_t half = 80 * kFullBlock;
        SendAll(c.data, bytes.substr(0, half));
        EXPECT_TRUE(HeldExclusively(path));
        if (kReadWhileHeld) {
            EXPECT_EQ(ReadRange(path, 0, 100) == bytes.substr(0, 100), c.direct) << "written before the last block";
        }
        SendAll(c.data, bytes.substr(half), half);
        EXPECT_TRUE(client.Settled());
        EXPECT_FALSE(HeldExclusively(path));
        EXPECT_TRUE(SameBytes(share.ReadFile("big.bin"), bytes));
    }
    if (!kReadWhileHeld)
        GTEST_SKIP() << kNotReadWhileHeld;
}

TEST_F(FileUpload, EmptyUploadIsCreatedAtOnceAndStaysEmpty)
{
    RunSteps(13, 14, 0, {{0, 10, 0, false}, {5, 10, 0, false}});
}

TEST_F(FileUpload, BlockRunningPastTheEndIsCutToTheAnnouncedSize)
{
    {
        SCOPED_TRACE("buffered");
        RunSteps(13, 14, 1000, {{0, 900, 900, true}, {900, 200, 100, true}});
    }
    SCOPED_TRACE("direct");
    RunSteps(39, 40, kSmallestDirect, {{kSmallestDirect - 100, 300, 100, true}}, kSmallestDirect - 100);
}

TEST_F(FileUpload, BlocksAfterTheFinishAreAnsweredButNotStored)
{
    {
        SCOPED_TRACE("buffered");
        RunSteps(13, 14, 500, {{0, 500, 500, true}, {0, 500, 500, false}, {450, 100, 50, false}, {510, 5, 0, false}});
    }
    SCOPED_TRACE("direct");
    const uint64_t L = kSmallestDirect;
    RunSteps(39, 40, L, {{L - 100, 100, 100, true}, {0, 1000, 1000, false}, {L - 50, 100, 50, false}}, L - 100);
}

// A data request too short for its offset field is offset 0 with no bytes, and the pending
// upload goes on as before.
TEST_F(FileUpload, DataRequestWithoutOffsetFieldTakesNothing)
{
    for (uint8_t data : {14, 40}) {
        SCOPED_TRACE(int(data));
        const int w = DataWidth(data);
        const std::string bytes = RandomBytes(2000, data);
        ASSERT_EQ(client.UploadOpen(w == 4 ? 13 : 39, bytes.size(), "/short.bin"), 0);
        EXPECT_EQ(client.Exchange(data, std::string(w - 1, '\x10')), CReply(0xFE, std::string(2 * w, '\0')));
        SendAll(data, bytes);
        EXPECT_TRUE(client.Settled());
        EXPECT_TRUE(SameBytes(share.ReadFile("short.bin"), bytes));
    }
}

TEST_F(FileUpload, SparseUploadAbove4GiBWritesAt64BitOffsets)
{
    const uint64_t size = k4GiB + 100;
    const std::string path = share.Path("huge.bin");
    auto stb = std::make_unique<CStbSession>(server.Port());
    ASSERT_EQ(stb->UploadOpen(39, size, "/huge.bin"), 0);
    EXPECT_EQ(LengthOf(path), static_cast<int64_t>(size));
    // The last piece would land on the first one if the offsets lost their high half.
    const std::pair<uint64_t, std::string> pieces[] = {
        {0, RandomBytes(100, 50)}, {k4GiB - 30, RandomBytes(100, 51)}, {size - 30, RandomBytes(30, 52)}};
    for (const auto& [off, bytes] : pieces)
        EXPECT_EQ(stb->UploadBlock(40, off, bytes), bytes.size());
    EXPECT_TRUE(stb->Settled());
    // Far from complete: the upload still holds its file, which goes with the session.
    EXPECT_TRUE(HeldExclusively(path));
    if (kReadWhileHeld) {
        for (const auto& [off, bytes] : pieces)
            EXPECT_TRUE(SameBytes(ReadRange(path, off, bytes.size()), bytes)) << "at " << off;
        EXPECT_EQ(ReadRange(path, 1 << 20, 64), std::string(64, '\0'));
        EXPECT_EQ(LengthOf(path), static_cast<int64_t>(size));
    }
    stb.reset();
    EXPECT_TRUE(WaitFor([&] { return !Exists(path); })) << "the unfinished upload left its file";
    if (!kReadWhileHeld)
        GTEST_SKIP() << kNotReadWhileHeld;
}

// A malformed open request answers 0xFF, a target that cannot be created 1; neither leaves
// a file behind or touches an existing one.
TEST_F(FileUpload, OpenThatCannotCreateItsTargetChangesNothing)
{
    share.WriteFile("ro.bin", "read-only content");
    std::error_code ec;
    fs::permissions(share.Path("ro.bin"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read, ec);
    ASSERT_FALSE(ec) << ec.message();
    share.WriteFile("busy.bin", "held by another program");
    const CHeldFile busy(share.Path("busy.bin"));
    ASSERT_TRUE(busy.Held());
    WriteLocalFile(share.Root() + "/outside.bin", "outside the shared folder");
    const auto before = Tree(share.Share());
    const std::string tag(1, '\x05');
    struct Case {
        uint8_t req;
        std::string payload;
        int status;
    } cases[] = {
        {13, tag + LE(10, 4) + std::string(1, '\0'), 0xFF},  // n = 6
        {13, tag + LE(10, 4) + "x.bin", 0xFF},               // no terminating zero
        {39, tag + LE(10, 8) + std::string(1, '\0'), 0xFF},  // n = 10
        {43, OpenPayload(13, 10, "x"), 0xFF},                // a 32-bit size for a 64-bit request
        {13, OpenPayload(13, 10, "/no/such/folder/x.bin"), 1},
        {45, OpenPayload(45, 10, "/ro.bin"), 1},
        {39, OpenPayload(39, 10, "/busy.bin"), 1},
        {13, OpenPayload(13, 10, "/../outside.bin"), 1},
        {43, OpenPayload(43, 10, "\\..\\outside.bin"), 1},
        {13, OpenPayload(13, 10, "/"), 1},  // the shared folder itself
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(::testing::Message() << "case " << i << ", request " << int(c.req));
        EXPECT_EQ(client.Status(c.req, c.payload, UploadReplyOf(c.req)), c.status);
        EXPECT_EQ(Tree(share.Share()), before);
    }
    EXPECT_EQ(ReadLocalFile(share.Root() + "/outside.bin"), "outside the shared folder");
}

TEST_F(FileUpload, DroppedConnectionLeavesNoPartialFile)
{
    struct Case {
        const char* what;
        uint8_t open, data;
        uint64_t size;
    } cases[] = {{"buffered", 13, 14, 100000}, {"direct", 39, 40, kSmallestDirect}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = std::string(c.what) + ".bin";
        const std::string bytes = RandomBytes(kFullBlock, 20);
        auto stb = std::make_unique<CStbSession>(server.Port());
        ASSERT_EQ(stb->UploadOpen(c.open, c.size, name), 0);
        EXPECT_EQ(stb->UploadBlock(c.data, 0, bytes), bytes.size());
        EXPECT_TRUE(stb->Settled());
        ASSERT_EQ(LengthOf(share.Path(name)), static_cast<int64_t>(c.size));
        if (c.open == 39 && kReadWhileHeld) {
            EXPECT_TRUE(SameBytes(ReadRange(share.Path(name), 0, bytes.size()), bytes));
        }
        stb.reset();
        EXPECT_TRUE(WaitFor([&] { return !Exists(share.Path(name)); })) << "the cut-off upload left its file";
    }
    if (!kReadWhileHeld)
        GTEST_SKIP() << kNotReadWhileHeld;
}

// A later command of the same session that gives the pending upload up deletes its file.
TEST_F(FileUpload, UploadAbandonedByALaterCommandIsDeleted)
{
    const std::string other = RandomBytes(5000, 30);
    share.WriteFile("other.bin", other);
    struct Mode {
        const char* what;
        uint8_t open, data;
        uint64_t size;
    } modes[] = {{"buffered", 13, 14, 5000}, {"direct", 39, 40, kSmallestDirect}};
    struct Later {
        uint8_t req;
        const char* path;
        uint8_t reply;
    } laters[] = {{2, "/other.bin", 0xF2}, {16, "/other.bin", 0xE0}, {13, "/next.bin", 0xFD},
                  {13, "/pending.bin", 0xFD}};
    for (const Mode& m : modes) {
        for (const Later& l : laters) {
            SCOPED_TRACE(::testing::Message() << m.what << ", then request " << int(l.req) << " " << l.path);
            const std::string pending = share.Path("pending.bin");
            CStbSession stb(server.Port());
            ASSERT_EQ(stb.UploadOpen(m.open, m.size, "/pending.bin"), 0);
            EXPECT_EQ(stb.UploadBlock(m.data, 0, RandomBytes(1000, 31)), 1000u);
            ASSERT_TRUE(Exists(pending));
            if (l.req == 13) {
                const std::string bytes = RandomBytes(2000, 32);
                ASSERT_EQ(stb.UploadOpen(13, bytes.size(), l.path), 0);
                EXPECT_EQ(Exists(pending), std::string(l.path) == "/pending.bin");
                EXPECT_EQ(stb.UploadBlock(14, 0, bytes), bytes.size());
                EXPECT_TRUE(stb.Settled());
                EXPECT_TRUE(SameBytes(share.ReadFile(l.path + 1), bytes));
                std::error_code ec;
                fs::remove(share.Path(l.path + 1), ec);
            } else {
                EXPECT_EQ(stb.Exchange(l.req, PathPayload(l.path, '\x05')),
                          CReply(l.reply, std::string(1, '\0') + LE(5000, 4)));
                EXPECT_FALSE(Exists(pending)) << "the abandoned upload left its file";
            }
        }
    }
    EXPECT_EQ(share.ReadFile("other.bin"), other);
}

// A block that cannot be written is answered with 0 taken, and the upload leaves no file.
TEST_F(FileUpload, WriteErrorAnswersNothingTakenAndLeavesNoFile)
{
#ifdef _WIN32
    GTEST_SKIP() << "makes writes fail by lowering the file-size limit (RLIMIT_FSIZE), which Windows has not";
#endif
    struct LimitedStep {
        uint64_t off;
        size_t len;
        uint64_t limit;  // the file-size limit while the block is handled; 0: none
        uint64_t taken;
    };
    struct Case {
        const char* what;
        uint8_t open, data;
        uint64_t size, openLimit;
        int status;
        std::vector<LimitedStep> steps;
    };
    const uint64_t L = kSmallestDirect;
    const Case cases[] = {
        {"pre-sizing", 13, 14, 4096, 1024, 1, {}},
        {"buffered write-out", 13, 14, 4096, 0, 0, {{0, 4096, 1024, 0}}},
        // The lost block leaves a hole: the last block is taken, completes nothing, and the
        // upload is never kept.
        {"direct, a middle block", 39, 40, L, 0, 0,
         {{0, kFullBlock, 0, kFullBlock}, {kFullBlock, kFullBlock, kFullBlock, 0}, {L - 1000, 1000, 0, 1000}}},
        {"direct, the last block", 39, 40, L, 0, 0, {{0, kFullBlock, 0, kFullBlock}, {L - 1000, 1000, 1 << 20, 0}}},
    };
    FileSizeLimit limit;
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "full" + std::to_string(++i) + ".bin";
        {
            CStbSession stb(server.Port());
            if (c.openLimit != 0)
                limit.Lower(c.openLimit);
            EXPECT_EQ(stb.UploadOpen(c.open, c.size, name), c.status);
            limit.Lift();
            for (const LimitedStep& s : c.steps) {
                if (s.limit != 0)
                    limit.Lower(s.limit);
                EXPECT_EQ(stb.UploadBlock(c.data, s.off, RandomBytes(s.len, 40)), s.taken) << "block at " << s.off;
                EXPECT_TRUE(stb.Settled());  // a buffered upload writes its file after the reply
                limit.Lift();
            }
        }
        EXPECT_TRUE(WaitFor([&] { return !Exists(share.Path(name)); }, 2000)) << "the failed upload left its file";
    }
}

// A file another session is downloading from disk cannot be cut short by an upload.
TEST_F(FileUpload, UploadOverAFileBeingDownloadedIsRefused)
{
    const std::string bytes = RandomBytes(kSmallestDirect, 60);
    share.WriteFile("movie.ts", bytes);
    ASSERT_EQ(client.Exchange(2, PathPayload("/movie.ts", '\x05')),
              CReply(0xF2, std::string(1, '\0') + LE(kSmallestDirect, 4)));
    CStbSession other(server.Port());
    for (uint8_t req : {13, 39}) {
        SCOPED_TRACE(int(req));
        EXPECT_EQ(other.UploadOpen(req, 100, "/movie.ts"), 1);
        EXPECT_TRUE(SameBytes(share.ReadFile("movie.ts"), bytes));
    }
}

// While a direct upload holds its file, another session can neither download it nor
// announce an upload of the same name.
TEST_F(FileUpload, FileOfADirectUploadIsRefusedToOtherSessions)
{
    const std::string bytes = RandomBytes(kSmallestDirect, 61);
    ASSERT_EQ(client.UploadOpen(39, bytes.size(), "/rec.ts"), 0);
    SendAll(40, bytes.substr(0, 5 * kFullBlock));
    CStbSession other(server.Port());
    auto [cmd, reply] = other.Exchange(2, PathPayload("/rec.ts", '\x05'));
    EXPECT_EQ(cmd, 0xF2);
    EXPECT_EQ(reply.substr(0, 1), "\x01");
    EXPECT_EQ(other.UploadOpen(13, 10, "/rec.ts"), 1);
    SendAll(40, bytes.substr(5 * kFullBlock), 5 * kFullBlock);
    EXPECT_TRUE(client.Settled());
    EXPECT_TRUE(SameBytes(share.ReadFile("rec.ts"), bytes));
}

}  // namespace
