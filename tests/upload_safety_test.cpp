// Uploads that are whole and lasting: an upload is kept only once every byte of it has
// arrived, its data is on the disk before the STB hears that it is complete, a crash
// leaves no unfinished upload looking complete after the next start, and giving an
// upload up never takes a file that is not its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/daemon_proc.h"
#include "tests/flush_watch.h"
#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"
#include "xfer/coverage.h"
#include "xfer/journal.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kSmallestDirect = 10485761;
constexpr size_t kFullBlock = 65525;  // the most a frame carries behind a 64-bit offset
constexpr uint8_t kFolder = 0x44;
constexpr uint8_t kFile = 0x46;

class UploadSafety : public SessionFixture {
protected:
    // Sends the bytes in full blocks from the offset on; each block must be taken whole.
    void SendAll(uint8_t req, const std::string& bytes, uint64_t from = 0)
    {
        for (size_t at = 0; at < bytes.size(); at += kFullBlock) {
            const std::string block = bytes.substr(at, kFullBlock);
            ASSERT_EQ(client.UploadBlock(req, from + at, block), block.size()) << "block at " << from + at;
        }
    }
};

// An upload is complete once every byte of its announced size has arrived, in any order.
// The block that reaches the end completes nothing while bytes are missing: such an
// upload (the reserved, never-written file of a lone last byte among them) is not kept
// when its session ends, and blocks may still fill its holes after the end.
TEST_F(UploadSafety, UploadIsKeptOnlyOnceEveryByteHasArrived)
{
    const uint64_t D = kSmallestDirect, B = 1 << 20;
    struct Piece {
        uint64_t off, len;
    };
    struct Case {
        const char* what;
        uint8_t open, data;
        uint64_t size;
        std::vector<Piece> pieces;
        bool kept;
    };
    const Case cases[] = {
        {"direct, the last byte alone", 39, 40, D, {{D - 1, 1}}, false},
        {"direct, the last byte and the first 1,000", 39, 40, D, {{D - 1, 1}, {0, 1000}}, false},
        {"buffered, the last byte and the first 1,000", 13, 14, B, {{B - 1, 1}, {0, 1000}}, false},
        {"direct, the last byte, then the rest", 39, 40, D, {{D - 1, 1}, {0, D - 1}}, true},
        {"buffered, the second half, then the first", 13, 14, B, {{B / 2, B / 2}, {0, B / 2}}, true},
    };
    unsigned i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = "holes" + std::to_string(++i) + ".bin";
        const std::string bytes = RandomBytes(c.size, 70 + i);
        {
            CStbSession stb(server.Port());
            ASSERT_EQ(stb.UploadOpen(c.open, c.size, name), 0);
            for (const Piece& p : c.pieces) {
                for (uint64_t at = p.off; at < p.off + p.len; at += kFullBlock) {
                    const std::string block = bytes.substr(at, std::min<uint64_t>(kFullBlock, p.off + p.len - at));
                    ASSERT_EQ(stb.UploadBlock(c.data, at, block), block.size()) << "block at " << at;
                }
            }
            EXPECT_TRUE(stb.Settled());
            EXPECT_EQ(HeldExclusively(share.Path(name)), !c.kept) << "whether the upload is still pending";
            if (c.kept) {
                EXPECT_TRUE(SameBytes(share.ReadFile(name), bytes));
            }
        }
        if (!c.kept) {
            EXPECT_TRUE(WaitFor([&] { return !Exists(share.Path(name)); })) << "the upload with holes was kept";
        }
    }
}

// Giving an upload up removes its file only while the name still leads to it: a finished
// file that someone put in its place, after moving the upload's file aside, stays.
TEST_F(UploadSafety, AbandonedUploadSparesAFileThatTookItsName)
{
    struct Mode {
        const char* what;
        uint8_t open, data;
        uint64_t size;
    } modes[] = {{"buffered", 13, 14, 5000}, {"direct", 39, 40, kSmallestDirect}};
    for (const Mode& m : modes) {
        SCOPED_TRACE(m.what);
        const std::string name = std::string(m.what) + ".ts";
        const std::string aside = std::string(m.what) + "-aside.ts";
        {
            CStbSession stb(server.Port());
            ASSERT_EQ(stb.UploadOpen(m.open, m.size, "/" + name), 0);
            EXPECT_EQ(stb.UploadBlock(m.data, 0, RandomBytes(1000, 80)), 1000u);
            std::error_code ec;
            fs::rename(LocalFsPath(share.Path(name)), LocalFsPath(share.Path(aside)), ec);
            ASSERT_FALSE(ec) << ec.message();
            share.WriteFile(name, "a finished recording");
        }
        // The session has given the upload up once the file moved aside is free again.
        EXPECT_TRUE(WaitFor([&] { return !HeldExclusively(share.Path(aside)); }));
        EXPECT_EQ(share.ReadFile(name), "a finished recording");
    }
}

// The block that completes an upload is answered only once the file is on the disk: the
// file is flushed, and no reply has reached the STB at any flush made for that block.
TEST_F(UploadSafety, CompletingBlockIsAnsweredAfterTheFileIsFlushed)
{
    struct Mode {
        const char* what;
        uint8_t open, data;
        uint64_t size;
    } modes[] = {{"buffered", 13, 14, 3 * kFullBlock}, {"direct", 39, 40, kSmallestDirect}};
    for (const Mode& m : modes) {
        SCOPED_TRACE(m.what);
        const std::string name = std::string(m.what) + ".ts";
        const std::string bytes = RandomBytes(m.size, 90);
        const uint64_t last = (m.size - 1) / kFullBlock * kFullBlock;
        ASSERT_EQ(client.UploadOpen(m.open, m.size, "/" + name), 0);
        SendAll(m.data, bytes.substr(0, last));
        {
            CFlushWatch watch(client);
            EXPECT_EQ(client.UploadBlock(m.data, last, bytes.substr(last)), m.size - last);
            EXPECT_GE(watch.Files(), 1) << "the file was not flushed";
            EXPECT_EQ(watch.AfterAReply(), 0) << "a flush came after the reply";
        }
        EXPECT_TRUE(SameBytes(share.ReadFile(name), bytes));
    }
}

// The entries of a directory upload reach the disk together, not with a flush each, and
// before the reply that completes the last entry the transaction announced.
TEST_F(UploadSafety, DirectoryUploadFlushesItsEntriesTogetherBeforeTheLastReply)
{
    constexpr int kFiles = 40;
    ASSERT_EQ(client.BeginDirUp("/", 100000, 1 + kFiles), 0);
    const plat::FlushCounts before = plat::GetFlushCounts();
    EXPECT_EQ(client.DirUpEntry(kFolder, 0, "d"), std::make_pair(0, 0u));
    for (int i = 0; i < kFiles; ++i) {
        const std::string bytes = RandomBytes(100, static_cast<unsigned>(i));
        ASSERT_EQ(client.DirUpEntry(kFile, 100, "d/f" + std::to_string(i)), std::make_pair(0, 100u));
        if (i + 1 < kFiles) {
            ASSERT_EQ(client.DirUpBlock(0, bytes), 100u);
            continue;
        }
        CFlushWatch watch(client);
        ASSERT_EQ(client.DirUpBlock(0, bytes), 100u);
        EXPECT_GE(watch.Files() + watch.Volumes(), 1) << "the last entry was answered before a flush";
        EXPECT_EQ(watch.AfterAReply(), 0) << "a flush came after the reply";
    }
    const plat::FlushCounts after = plat::GetFlushCounts();
#ifdef _WIN32
    // Windows has no flush of a volume for a user: each file is flushed as it completes.
    EXPECT_EQ(after.ullFiles - before.ullFiles, static_cast<uint64_t>(kFiles));
#else
    EXPECT_EQ(after.ullFiles - before.ullFiles, 0u) << "the entries were flushed one by one";
    EXPECT_GE(after.ullVolumes - before.ullVolumes, 1u);
    EXPECT_LE(after.ullVolumes - before.ullVolumes + after.ullFolders - before.ullFolders, 4u);
#endif
}

// The ranges of an upload's blocks that arrived apart are merged as they meet, and a
// sender of every other byte cannot make them more than the cap: a block that would be
// one more range is refused, a block that joins one is taken.
TEST(UploadCoverage, HolesAreMergedAndCappedAndCompleteOnlyWhenFilled)
{
    CCoverage cover;
    cover.Reset(100);
    cover.Add(90, 10);
    cover.Add(50, 10);
    EXPECT_FALSE(cover.Complete()) << "reaching the end completes nothing";
    cover.Add(60, 30);  // joins the two ranges
    EXPECT_EQ(cover.Ranges(), 1u);
    cover.Add(0, 50);  // the front reaches them
    EXPECT_EQ(cover.Ranges(), 0u);
    EXPECT_TRUE(cover.Complete());

    const uint64_t size = 4 * CCoverage::kMaxRanges;
    cover.Reset(size);
    for (uint64_t o = 1; o < 2 * CCoverage::kMaxRanges + 1; o += 2) {
        ASSERT_TRUE(cover.CanAdd(o, 1)) << o;
        cover.Add(o, 1);
    }
    EXPECT_EQ(cover.Ranges(), CCoverage::kMaxRanges);
    EXPECT_FALSE(cover.CanAdd(size - 1, 1)) << "one range more than the cap";
    EXPECT_TRUE(cover.CanAdd(2, 1)) << "a block that joins two ranges";
    EXPECT_TRUE(cover.CanAdd(0, 1)) << "a block at the front";
    cover.Add(0, size);
    EXPECT_TRUE(cover.Complete());
    EXPECT_EQ(cover.Ranges(), 0u);
}

// A journal record is read back as it was written, and a record cut short by a crash
// gives its whole entries only.
TEST(UploadJournal, EntriesReadBackAsWrittenAndACutRecordGivesItsWholeEntries)
{
    const CJournalEntry entries[] = {
        {{"/srv/share", false}, "/srv/share/a b/movie.ts", {2049, 1234567, 20u << 20}},
        {{"/srv/share", true}, "/srv/share/odd\nname\x01\xff", {7, 8, 1}},
    };
    std::string text = "corvane unfinished 1\n";
    for (const CJournalEntry& entry : entries)
        text += FormatJournalEntry(entry);
    for (size_t cut : {text.size(), text.size() - 1, text.size() - 30}) {
        SCOPED_TRACE(cut);
        const std::vector<CJournalEntry> back = ParseJournalEntries(text.substr(0, cut));
        ASSERT_EQ(back.size(), cut == text.size() ? 2u : 1u);
        for (size_t i = 0; i < back.size(); ++i) {
            EXPECT_EQ(back[i].share.strRoot, entries[i].share.strRoot);
            EXPECT_EQ(back[i].share.bWideLinks, entries[i].share.bWideLinks);
            EXPECT_EQ(back[i].strPath, entries[i].strPath);
            EXPECT_EQ(back[i].id.ullVolume, entries[i].id.ullVolume);
            EXPECT_EQ(back[i].id.ullIndex, entries[i].id.ullIndex);
            EXPECT_EQ(back[i].id.ullSize, entries[i].id.ullSize);
        }
    }
}

#ifndef _WIN32
// A record acts only in the shared folder of the start that reads it, by that start's
// rule for links: one that names a file in another folder (planted, or left from a
// folder shared before) deletes nothing there.
TEST(UploadJournal, RecordDeletesOnlyInTheSharedFolderOfThisStart)
{
    CTempShare share;
    share.WriteFile("cut.ts", "cut");
    WriteLocalFile(share.Root() + "/victim.txt", "keep");
    const auto identity = [](const std::string& strPath) {
        struct stat st = {};
        EXPECT_EQ(stat(strPath.c_str(), &st), 0) << strPath;
        return plat::FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                                  static_cast<uint64_t>(st.st_size)};
    };
    std::string text = "corvane unfinished 1\n";
    text += FormatJournalEntry({{share.Root(), true}, share.Root() + "/victim.txt", identity(share.Root() + "/victim.txt")});
    text += FormatJournalEntry({{share.Share(), false}, share.Path("cut.ts"), identity(share.Path("cut.ts"))});
    fs::create_directories(JournalFolder());
    WriteLocalFile(JournalFolder() + "/1-1.unfinished", text);
    CleanUpJournal(share.Share(), false);
    EXPECT_EQ(ReadLocalFile(share.Root() + "/victim.txt"), "keep");
    EXPECT_FALSE(Exists(share.Path("cut.ts")));
}
#endif

// A crash (the daemon killed) in the middle of uploads: the next start removes each
// unfinished file, whatever it holds so far, with its line, and keeps the finished ones.
TEST(UploadCrash, NextStartRemovesTheUploadsACrashCutOff)
{
    CTempShare share;
    CDaemonProcess daemon(share.Root(), "d");
    const uint16_t port = daemon.StartListening({"--headless", "--share", share.Share()});
    ASSERT_NE(port, 0) << daemon.Error() << "\n" << daemon.Err();
    const std::string done = RandomBytes(3000, 1);
    {
        CStbSession finished(port);
        ASSERT_EQ(finished.UploadOpen(13, done.size(), "/done.ts"), 0);
        ASSERT_EQ(finished.UploadBlock(14, 0, done), done.size());
    }
    CStbSession direct(port), buffered(port), dirup(port);
    ASSERT_EQ(direct.UploadOpen(39, 20u << 20, "/movie.ts"), 0);
    EXPECT_EQ(direct.UploadBlock(40, 0, RandomBytes(60000, 2)), 60000u);
    ASSERT_EQ(buffered.UploadOpen(13, 5u << 20, "/small.ts"), 0);
    EXPECT_EQ(buffered.UploadBlock(14, 0, RandomBytes(60000, 3)), 60000u);
    // A directory upload: one entry complete but not flushed (the transaction goes on),
    // the next one begun.
    ASSERT_EQ(dirup.BeginDirUp("/", 100000, 10), 0);
    EXPECT_EQ(dirup.DirUpEntry(kFile, 5, "entry1.ts"), std::make_pair(0, 5u));
    EXPECT_EQ(dirup.DirUpBlock(0, "12345"), 5u);
    EXPECT_EQ(dirup.DirUpEntry(kFile, 50000, "entry2.ts"), std::make_pair(0, 50000u));
    EXPECT_EQ(dirup.DirUpBlock(0, "12345"), 5u);
    const char* const unfinished[] = {"movie.ts", "small.ts", "entry1.ts", "entry2.ts"};
    for (const char* name : unfinished)
        ASSERT_TRUE(Exists(share.Path(name))) << name;

    daemon.Crash();
    ASSERT_NE(daemon.StartListening({"--headless"}), 0) << daemon.Error() << "\n" << daemon.Err();
    const std::string out = daemon.Out();
    for (const char* name : unfinished) {
        EXPECT_FALSE(Exists(share.Path(name))) << name;
        EXPECT_TRUE(Contains(out, "removed unfinished upload: ") && Contains(out, std::string(name) + "\n"))
            << name << " in:\n" << out;
    }
    EXPECT_EQ(share.ReadFile("done.ts"), done);
}

}  // namespace
