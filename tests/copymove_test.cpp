// Copy and move over loopback: FC_FILE_CPY_REQ and FC_FILE_MOV_REQ, one operation per
// session run by a worker, every later request of the session a poll of its status.
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/copymove_fixture.h"
#include "tests/test_files.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;

TEST_F(CopyMove, FileCopiedToAFolderWithTrailingSeparatorLandsInside)
{
    const TreeMap want = WithCopy(Tree(share.Share()), "a.ts", "dir/a.ts", true);
    EXPECT_EQ(Run(kCopy, "/a.ts", "/dir/"), 0);
    EXPECT_EQ(Tree(share.Share()), want);
}

// A folder sent as "/backup/" or "/backup" names the new folder; an existing folder as
// destination receives the copy inside it.
TEST_F(CopyMove, FolderCopyBringsTheWholeTree)
{
    struct Case {
        const char* dst;
        const char* landsAt;
    } cases[] = {{"/backup/", "backup"}, {"/backup", "backup"}, {"/dir/", "dir/movies"}, {"\\dir", "dir/movies"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dst);
        NewSession();
        const TreeMap before = Tree(share.Share());
        EXPECT_EQ(Run(kCopy, "/movies", c.dst), 0);
        EXPECT_EQ(Tree(share.Share()), WithCopy(before, "movies", c.landsAt, true));
        fs::remove_all(share.Path(c.landsAt));
    }
}

TEST_F(CopyMove, MoveRemovesTheSource)
{
    struct Case {
        const char *src, *dst, *from, *to;
    } cases[] = {{"/a.ts", "/dir/", "a.ts", "dir/a.ts"},
                 {"/movies/", "/archive", "movies", "archive"},
                 {"/archive", "/dir", "archive", "dir/archive"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        NewSession();
        const TreeMap want = WithCopy(Tree(share.Share()), c.from, c.to, false);
        EXPECT_EQ(Run(kMove, c.src, c.dst), 0);
        EXPECT_EQ(Tree(share.Share()), want);
    }
}

TEST_F(CopyMove, MissingSourceReportsFailureOnALaterPoll)
{
    const TreeMap before = Tree(share.Share());
    for (uint8_t req : {kCopy, kMove}) {
        SCOPED_TRACE(int(req));
        NewSession();
        EXPECT_EQ(Run(req, "/nothing.ts", "/dir/"), 1);
        EXPECT_EQ(Tree(share.Share()), before);
    }
}

// A session runs one operation: every later copy or move request, valid or not, answers
// that operation's status and starts nothing.
TEST_F(CopyMove, LaterRequestsReportTheFirstOperationAndStartNothing)
{
    struct Case {
        uint8_t req;
        const char *src, *dst;
        int outcome;
    } cases[] = {{kCopy, "/a.ts", "/first.ts", 0}, {kCopy, "/missing.ts", "/first.ts", 1},
                 {kMove, "/a.ts", "/first.ts", 0}};
    const std::string invalid[] = {std::string("\x07/a\0", 4), std::string("\x07\0/b.ts\0", 8)};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.req) << " " << c.src);
        NewSession();
        EXPECT_EQ(Run(c.req, c.src, c.dst), c.outcome);
        const TreeMap after = Tree(share.Share());
        EXPECT_EQ(Request(kCopy, "/dir/keep.txt", "/later.txt"), c.outcome);
        EXPECT_EQ(Request(kMove, "/dir/keep.txt", "/later.txt"), c.outcome);
        EXPECT_EQ(Request(kCopy, "/movies", "/later"), c.outcome);
        for (const std::string& payload : invalid) {
            EXPECT_EQ(Request(kCopy, payload), c.outcome);
            EXPECT_EQ(Request(kMove, payload), c.outcome);
        }
        EXPECT_EQ(Tree(share.Share()), after);
        if (c.req == kMove)
            fs::rename(share.Path("first.ts"), share.Path("a.ts"));
        fs::remove(share.Path("first.ts"));
    }
}

// A malformed request before any operation answers 0xFF and leaves the session free to
// start one.
TEST_F(CopyMove, InvalidRequestBeforeAnOperationAnswersFF)
{
    const std::string payloads[] = {
        std::string(),
        std::string("\x07/a\0", 4),              // n = 4
        std::string("\x07\0/b.ts\0", 8),         // empty source
        std::string("\x07/a.ts\0/b.ts", 12),     // not ended by a zero
        std::string("\x07/a.ts\0", 7),           // no destination
        std::string("\x07/a.ts\0\0", 8),         // empty destination
    };
    const TreeMap before = Tree(share.Share());
    for (size_t i = 0; i < std::size(payloads); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Request(kCopy, payloads[i]), 0xFF);
        EXPECT_EQ(Request(kMove, payloads[i]), 0xFF);
    }
    EXPECT_EQ(Tree(share.Share()), before);
    EXPECT_EQ(Run(kCopy, "/a.ts", "/b.ts"), 0);
    EXPECT_EQ(Tree(share.Share()), WithCopy(before, "a.ts", "b.ts", true));
}

// A folder copied or moved into itself would grow until the volume is full.
TEST_F(CopyMove, FolderIntoItselfOrItsSubfolderFails)
{
    struct Case {
        uint8_t req;
        const char* dst;
    } cases[] = {{kCopy, "/movies"}, {kCopy, "/movies/sub"}, {kCopy, "/movies/sub/"}, {kCopy, "/movies/new"},
                 {kMove, "/movies/"}, {kMove, "/movies/sub"}, {kMove, "/movies/sub/deeper"}};
    const TreeMap before = Tree(share.Share());
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.req) << " to " << c.dst);
        NewSession();
        EXPECT_EQ(Run(c.req, "/movies", c.dst), 1);
        EXPECT_EQ(Tree(share.Share()), before);
    }
}

// A path with a ".." component is refused at once and starts nothing: a later valid
// request of the same session still starts an operation.
TEST_F(CopyMove, PathLeavingTheSharedFolderIsRefused)
{
    const std::string outside = share.Root() + "/outside.ts";
    WriteLocalFile(outside, "outside the shared folder");
    struct Case {
        uint8_t req;
        const char *src, *dst;
    } cases[] = {{kCopy, "/../outside.ts", "/in.ts"},       {kMove, "\\..\\outside.ts", "/in.ts"},
                 {kCopy, "/a.ts", "/../escaped.ts"},         {kMove, "/a.ts", "dir/../../escaped.ts"},
                 {kCopy, "/movies", "/.."},                  {kMove, "/dir/../a.ts", "/dir/"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.req) << " " << c.src << " to " << c.dst);
        NewSession();
        const TreeMap before = Tree(share.Share());
        EXPECT_EQ(Request(c.req, c.src, c.dst), 1);
        EXPECT_EQ(Run(kCopy, "/dir/keep.txt", "/started.txt"), 0);
        EXPECT_EQ(Tree(share.Share()), WithCopy(before, "dir/keep.txt", "started.txt", true));
        fs::remove(share.Path("started.txt"));
    }
    EXPECT_EQ(ReadLocalFile(outside), "outside the shared folder");
    EXPECT_FALSE(fs::exists(share.Root() + "/escaped.ts"));
    EXPECT_FALSE(fs::exists(share.Root() + "/movies"));
}

// A copy never carries the set-user-ID and set-group-ID bits: a program another user left
// in the share would run with the daemon's rights. The other permission bits stay, for
// files and folders, and in the copy half of a move.
TEST_F(CopyMove, CopyNeverCarriesSetIdBits)
{
#ifdef _WIN32
    GTEST_SKIP() << "the set-ID bits are POSIX mode bits";
#else
    auto setMode = [&](const std::string& rel, mode_t mode) {
        ASSERT_EQ(chmod(share.Path(rel).c_str(), mode), 0) << rel;
    };
    auto modeOf = [&](const std::string& rel) -> int {
        struct stat st;
        return lstat(share.Path(rel).c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
    };
    share.WriteFile("tools/idx", "#!/bin/sh\n");
    share.WriteFile("sgid/idx", "#!/bin/sh\n");
    share.WriteFile("dest/sgid/earlier.txt", "there before");
    setMode("tools/idx", 06755);
    setMode("sgid/idx", 06755);
    setMode("sgid", 02755);
    struct Case {
        uint8_t req;
        const char *src, *dst;
        std::vector<std::pair<const char*, int>> modes;  // what landed, and its mode
    } cases[] = {
        {kCopy, "/tools/idx", "/idcopy", {{"idcopy", 0755}}},
        {kCopy, "/sgid", "/sgidcopy", {{"sgidcopy", 0755}, {"sgidcopy/idx", 0755}}},
        // Onto a folder that holds one of the same name: a copy, then the removal.
        {kMove, "/sgid", "/dest", {{"dest/sgid/idx", 0755}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.req) << " " << c.src << " to " << c.dst);
        NewSession();
        EXPECT_EQ(Run(c.req, c.src, c.dst), 0);
        for (const auto& [rel, mode] : c.modes)
            EXPECT_EQ(modeOf(rel), mode) << rel;
    }
    EXPECT_EQ(modeOf("tools/idx"), 06755) << "the original changed";
#endif
}

}  // namespace
