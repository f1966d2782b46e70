// What a host cannot reach or take through the shared folder: links that lead out of it,
// memory that was never sent, disk it has not got, FIFOs left in it, and changes to a
// read-only share.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>  // mkfifo
#endif

#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;

class Confinement : public ::testing::Test {
protected:
    CTempShare share;
    std::string outside = share.Root() + "/outside";

    // Why the links could not be made (Windows without the privilege); empty when they
    // stand.
    std::string m_strNoLinks;

    void SetUp() override
    {
        fs::create_directories(outside + "/inner/deeper");
        WriteLocalFile(outside + "/secret.txt", "outside secret");
        WriteLocalFile(outside + "/inner/deeper/keep.txt", "outside");
        share.WriteFile("in/file.txt", "inside");
        m_strNoLinks = MakeLink("../outside", share.Path("out"), true);  // relative, leads out
        if (m_strNoLinks.empty())
            m_strNoLinks = MakeLink(outside, share.Path("abs"), true);  // absolute target
        if (m_strNoLinks.empty())
            m_strNoLinks = MakeLink("../outside/new.txt", share.Path("dangling"), false);
        if (m_strNoLinks.empty())
            m_strNoLinks = MakeLink("in", share.Path("inlink"), true);  // stays inside: works
#ifndef _WIN32
        ASSERT_EQ(m_strNoLinks, "");
#endif
    }
};

// The skip of a test that needs the fixture's links where the system could not make them.
const char kNoLinks[] = "makes symbolic links, which need a privilege on Windows: ";

struct PathCmd {
    const char* pszName;
    uint8_t ucReq;
    uint8_t ucReply;
    // Payload for a path that names "secret.txt", "inner" or "made" below prefix (a folder
    // path ending in '/'), or that folder itself.
    std::function<std::string(const std::string& prefix)> payload;
};

const PathCmd kPathCmds[] = {
    {"FC_DIR_REQ", 0x07, 0xF7, [](const std::string& p) { return PathPayload(p + "inner"); }},
    {"FC_FILE_DN_REQ", 0x02, 0xF2, [](const std::string& p) { return PathPayload(p + "secret.txt"); }},
    {"FC_FILE_SIZE_REQ", 0x10, 0xE0, [](const std::string& p) { return PathPayload(p + "secret.txt"); }},
    {"FC_FILE_DEL_REQ", 0x08, 0xF8, [](const std::string& p) { return PathPayload(p + "secret.txt"); }},
    {"FC_MKDIR_REQ", 0x09, 0xF9, [](const std::string& p) { return PathPayload(p + "made"); }},
    {"FC_RMDIR_REQ", 0x0A, 0xFA, [](const std::string& p) { return PathPayload(p + "inner"); }},
    {"FC_FILE_UP_REQ", 0x0D, 0xFD,
     [](const std::string& p) { return std::string(1, '\x01') + U32(5) + p + "secret.txt" + '\0'; }},
    {"FC_BIGFILE_UP_REQ", 0x27, 0xDD,
     [](const std::string& p) { return std::string(1, '\x01') + LE(5, 8) + p + "made.txt" + '\0'; }},
    {"FC_FILE_CPY_REQ (source)", 0x0B, 0xFB,
     [](const std::string& p) { return std::string(1, '\x01') + p + "secret.txt" + '\0' + "copy.txt" + '\0'; }},
    {"FC_FILE_CPY_REQ (destination)", 0x0B, 0xFB,
     [](const std::string& p) { return std::string(1, '\x01') + "in/file.txt" + '\0' + p + "inner" + '\0'; }},
    {"FC_FILE_MOV_REQ (source)", 0x0C, 0xFC,
     [](const std::string& p) { return std::string(1, '\x01') + p + "secret.txt" + '\0' + "moved.txt" + '\0'; }},
    {"FC_FILE_MOV_REQ (destination)", 0x0C, 0xFC,
     [](const std::string& p) { return std::string(1, '\x01') + "in/file.txt" + '\0' + p + "inner" + '\0'; }},
    {"FC_DIR_DN_REQ", 0x13, 0xE3, [](const std::string& p) { return PathPayload(p + "inner"); }},
    {"FC_DIR_UP_REQ", 0x14, 0xE4,
     [](const std::string& p) { return std::string(1, '\x01') + U32(1) + LE(5, 8) + p + "inner/" + '\0'; }},
    // The folder named last is the link itself: a receiving folder "out/", a destination
    // "out" (on Windows it once went unchecked).
    {"FC_DIR_UP_REQ (receiving folder itself)", 0x14, 0xE4,
     [](const std::string& p) { return std::string(1, '\x01') + U32(1) + LE(5, 8) + p + '\0'; }},
    {"FC_FILE_CPY_REQ (destination folder itself)", 0x0B, 0xFB,
     [](const std::string& p) { return std::string(1, '\x01') + "in/file.txt" + '\0' + p.substr(0, p.size() - 1) + '\0'; }},
    {"FC_FILE_MOV_REQ (destination folder itself)", 0x0C, 0xFC,
     [](const std::string& p) { return std::string(1, '\x01') + "in/file.txt" + '\0' + p.substr(0, p.size() - 1) + '\0'; }},
};

// A path through a link that leads out of the shared folder is answered exactly as the
// same path written with ".." is, by every command that takes a path, and nothing
// outside changes. Links that stay inside keep working.
TEST_F(Confinement, LinkOutOfTheShareIsRefusedLikeParentPath)
{
    if (!m_strNoLinks.empty())
        GTEST_SKIP() << kNoLinks << m_strNoLinks;
    CTestServer server;
    const auto before = Tree(outside);
    for (const PathCmd& c : kPathCmds) {
        SCOPED_TRACE(c.pszName);
        CStbSession viaParent(server.Port());
        const std::string refused = viaParent.Ask(c.ucReq, c.payload("../outside/"), c.ucReply);
        for (const char* prefix : {"out/", "abs/"}) {
            SCOPED_TRACE(prefix);
            CStbSession viaLink(server.Port());
            EXPECT_EQ(viaLink.Ask(c.ucReq, c.payload(prefix), c.ucReply), refused);
            // A poll of a copy or move would report an operation that was started.
            if (c.ucReq == 0x0B || c.ucReq == 0x0C) {
                EXPECT_EQ(viaLink.Ask(c.ucReq, c.payload(prefix), c.ucReply), refused);
            }
        }
        EXPECT_EQ(Tree(outside), before);
    }
    EXPECT_FALSE(Exists(outside + "/new.txt"));
    EXPECT_FALSE(Exists(share.Path("copy.txt")));
    EXPECT_FALSE(Exists(share.Path("moved.txt")));

    // Through the dangling link an upload would create its target outside.
    CStbSession client(server.Port());
    EXPECT_EQ(client.Ask(0x0D, std::string(1, '\x01') + U32(5) + "dangling" + '\0', 0xFD), "\x01");
    EXPECT_FALSE(Exists(outside + "/new.txt"));

    // Inside, links are followed as before.
    const std::string answer = client.Ask(0x10, PathPayload("inlink/file.txt"), 0xE0);
    EXPECT_EQ(answer, std::string(1, '\0') + U32(6));
    EXPECT_EQ(client.Ask(0x08, PathPayload("inlink/file.txt"), 0xF8), std::string(1, '\0'));
    EXPECT_FALSE(Exists(share.Path("in/file.txt")));
}

// With wide links the user's links lead where they point; ".." stays refused.
TEST_F(Confinement, WideLinksFollowLinksOutButNotParentPaths)
{
    if (!m_strNoLinks.empty())
        GTEST_SKIP() << kNoLinks << m_strNoLinks;
    CTestServer server([](CSessMan&, CDaemonOptions& options) { options.bWideLinks = true; });
    CStbSession client(server.Port());
    EXPECT_EQ(client.Ask(0x10, PathPayload("abs/secret.txt"), 0xE0), std::string(1, '\0') + U32(14));
    EXPECT_EQ(client.Ask(0x10, PathPayload("out/secret.txt"), 0xE0), std::string(1, '\0') + U32(14));
    EXPECT_EQ(client.Ask(0x10, PathPayload("../outside/secret.txt"), 0xE0)[0], '\x01');
}

// A relative link moved to a shallower folder points somewhere else: from there it
// leads out, and is refused.
TEST_F(Confinement, MovedRelativeLinkCannotLeadOut)
{
    if (!m_strNoLinks.empty())
        GTEST_SKIP() << kNoLinks << m_strNoLinks;
    share.WriteFile("a/keep.txt", "a");
    ASSERT_EQ(MakeLink("..", share.Path("a/up"), true), "");
    CTestServer server;
    CStbSession client(server.Port());
    EXPECT_EQ(client.Ask(0x10, PathPayload("a/up/in/file.txt"), 0xE0), std::string(1, '\0') + U32(6));
    if (UnderWine())
        GTEST_SKIP() << "the link is not moved: Wine's SHFileOperationW reports the move of a link to a folder that "
                        "holds the destination done and leaves the link where it was (MoveFileExW: "
                        "ERROR_INVALID_PARAMETER)";
    client.Ask(0x0C, std::string(1, '\x01') + "a/up" + '\0' + "up" + '\0', 0xFC);
    const std::string poll = std::string(1, '\x01') + "x" + '\0' + "y" + '\0';
    ASSERT_TRUE(WaitFor([&] { return client.Ask(0x0C, poll, 0xFC) != "\x02"; }));
    ASSERT_TRUE(IsLink(share.Path("up")));
    EXPECT_EQ(client.Ask(0x07, PathPayload("up/outside"), 0xF7), std::string(1, '\x01') + U32(0));
    EXPECT_EQ(client.Ask(0x07, PathPayload("up"), 0xF7), std::string(1, '\x01') + U32(0));
    EXPECT_EQ(client.Ask(0x02, PathPayload("up/outside/secret.txt"), 0xF2)[0], '\x01');
}

// A buffered upload whose blocks leave bytes uncovered is never written out: its file
// holds zeros, never memory that another transfer left behind.
TEST_F(Confinement, UncoveredBytesOfBufferedUploadAreZero)
{
    const std::string noise = RandomBytes(200000, 7);
    share.WriteFile("noise.bin", noise);
    CTestServer server;
    CStbSession client(server.Port());
    for (int i = 0; i < 3; ++i) {
        // Fill freed memory with bytes a session downloaded.
        ASSERT_EQ(client.Ask(0x02, PathPayload("noise.bin"), 0xF2)[0], '\0');
        client.Ask(0x07, PathPayload("/"), 0xF7);
    }
    ASSERT_EQ(client.Ask(0x2D, std::string(1, '\x01') + U32(200000) + "up.bin" + '\0', 0xDD), std::string(1, '\0'));
    client.Ask(0x2E, U32(199999) + "Z", 0xDE);
#ifdef _WIN32
    GTEST_SKIP() << "the pending upload's file is not read: Windows' share modes keep every other opener out of it";
#endif
    EXPECT_EQ(share.ReadFile("up.bin"), std::string(200000, '\0'));
}

// An upload the volume could not hold is refused before anything exists; one it can
// hold has its blocks reserved, not promised by a sparse file; a copy of a sparse file
// larger than the free space fails before it writes.
TEST_F(Confinement, UploadAndCopyNeedTheSpaceTheyAnnounce)
{
    const uint64_t ullFree = FreeBytes(share.Share());
    CTestServer server;
    CStbSession client(server.Port());
    EXPECT_EQ(client.Ask(0x27, std::string(1, '\x01') + LE(ullFree + (1ull << 30), 8) + "huge.bin" + '\0', 0xDD),
              "\x01");
    EXPECT_FALSE(Exists(share.Path("huge.bin")));

    ASSERT_EQ(client.Ask(0x27, std::string(1, '\x01') + LE(8 << 20, 8) + "held.bin" + '\0', 0xDD),
              std::string(1, '\0'));
    const int64_t llAllocated = AllocatedBytes(share.Path("held.bin"));
    ASSERT_GE(llAllocated, 0);
    // Wine cannot set a file's allocation: SetFileInformationByHandle(FileAllocationInfo)
    // answers ERROR_CALL_NOT_IMPLEMENTED there.
    const bool bCanReserve = !UnderWine();
    if (bCanReserve) {
        EXPECT_GE(static_cast<uint64_t>(llAllocated), 8u << 20) << "the announced size is not reserved";
    }

    MakeSparse(share.Path("sparse.bin"), ullFree + (1ull << 30));
    CStbSession copier(server.Port());
    const std::string cpy = std::string(1, '\x01') + "sparse.bin" + '\0' + "copy.bin" + '\0';
    copier.Ask(0x0B, cpy, 0xFB);
    std::string status;
    ASSERT_TRUE(WaitFor([&] { return (status = copier.Ask(0x0B, cpy, 0xFB)) != "\x02"; }));
    EXPECT_EQ(status, "\x01");
    EXPECT_FALSE(Exists(share.Path("copy.bin")));
    if (!bCanReserve)
        GTEST_SKIP() << "the reservation of the announced size is not checked: Wine cannot reserve a file's blocks "
                        "(FileAllocationInfo is not implemented)";
}

// A FIFO (or device) left in the share is listed but never opened: every opening fails
// at once instead of holding the session.
TEST_F(Confinement, FifoInTheShareFailsAtOnce)
{
#ifdef _WIN32
    GTEST_SKIP() << "makes FIFOs with mkfifo, which Windows has not";
#else
    ASSERT_EQ(mkfifo(share.Path("pipe").c_str(), 0666), 0);
    ASSERT_EQ(mkfifo(share.Path("fw.stb").c_str(), 0666), 0);
    CTestServer server;
    CStbSession client(server.Port());
    EXPECT_EQ(client.Ask(0x02, PathPayload("pipe"), 0xF2)[0], '\x01');
    EXPECT_EQ(client.Ask(0x10, PathPayload("pipe"), 0xE0)[0], '\x01');
    EXPECT_EQ(client.Ask(0x08, PathPayload("pipe"), 0xF8), "\x01");
    EXPECT_EQ(client.Ask(0x0D, std::string(1, '\x01') + U32(5) + "pipe" + '\0', 0xFD), "\x01");
    // The firmware query probes every ".stb" file: the FIFO is passed over.
    EXPECT_EQ(client.Ask(0x12, std::string("\x01\x01\x00\x01\x00\x00", 6), 0xE2).substr(0, 3), std::string(3, '\0'));
    const std::string listing = client.Ask(0x07, PathPayload("/"), 0xF7);
    EXPECT_EQ(listing[0], '\0');
    EXPECT_TRUE(fs::is_fifo(share.Path("pipe")));
#endif
}

// All sessions' transfer buffers together stay within the budget: past it a file is
// served from disk and a listing answers "out of memory", and every byte still arrives.
TEST_F(Confinement, TransferBuffersStayWithinTheBudget)
{
    const std::string content = RandomBytes(600000, 11);
    share.WriteFile("file.bin", content);
    CTestServer server([](CSessMan& man) { man.m_Budget.SetLimit(600010); });
    std::vector<std::unique_ptr<CStbSession>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<CStbSession>(server.Port()));
        EXPECT_EQ(clients.back()->Ask(0x02, PathPayload("file.bin"), 0xF2), std::string(1, '\0') + U32(600000));
    }
    EXPECT_EQ(server.Man().m_Budget.Used(), 600000u) << "only the first file fits in memory";
    CStbSession lister(server.Port());
    EXPECT_EQ(lister.Ask(0x07, PathPayload("/"), 0xF7), '\x03' + U32(0));
    for (auto& c : clients) {
        // A range from memory or from disk, the same bytes.
        EXPECT_EQ(c->Ask(0x03, U32(500000) + U32(100), 0xF3), U32(500000) + content.substr(500000, 100));
    }
    clients.clear();
    EXPECT_TRUE(WaitFor([&] { return server.Man().m_Budget.Used() == 0; })) << "an ended session keeps its share";
}

// A directory download's entry list is charged to the same budget as the transfer
// buffers: a tree whose list would pass what is left answers as a walk that found nothing,
// with its line, and what the walk had taken goes back at once; the lists of ended
// sessions leave the budget whole.
TEST_F(Confinement, DirectoryListPastTheBudgetListsNothing)
{
    share.WriteFile("small/a.txt", "abc");
    const std::string longName(100, 'n');
    for (int i = 0; i < 200; ++i)  // 21 KB of names
        share.WriteFile("big/" + std::to_string(i) + longName, "x");
    CTestServer server([](CSessMan& man) { man.m_Budget.SetLimit(16 << 10); });
    const CBufferBudget& budget = server.Man().m_Budget;
    // The entry count and the total of a directory download's reply.
    const auto list = [](CStbSession& stb, const char* pszFolder) -> std::pair<uint32_t, uint64_t> {
        const std::string reply = stb.Ask(0x13, PathPayload(pszFolder), 0xE3);
        if (reply.size() != 13)
            return {~0u, ~uint64_t{0}};
        return {GetU32(reply, 1), GetLE(reply, 5, 8)};
    };
    auto small = std::make_unique<CStbSession>(server.Port());
    EXPECT_EQ(list(*small, "/small"), std::make_pair(uint32_t{2}, uint64_t{3}));
    const uint64_t ullSmallList = budget.Used();
    EXPECT_GT(ullSmallList, 0u) << "the list is charged to no budget";

    // The replies are checked once the lines are no longer captured, so that a failure's
    // message shows.
    testing::internal::CaptureStdout();
    auto big = std::make_unique<CStbSession>(server.Port());
    const auto listed = list(*big, "/big");
    const CReply first = big->Exchange(0x01, LE(0, 4));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(listed, std::make_pair(uint32_t{0}, uint64_t{0}));
    EXPECT_EQ(first, CReply(0x03, LE(0, 4) + '\0')) << "an entry of the dropped list";
    const std::string line = "directory list too large: " + LocalFsString(LocalFsPath(share.Path("big"))) + "\n";
    EXPECT_NE(out.find(line), std::string::npos) << line;
    EXPECT_EQ(budget.Used(), ullSmallList) << "the dropped list keeps a charge";

    small.reset();
    big.reset();
    EXPECT_TRUE(WaitFor([&] { return budget.Used() == 0; })) << "an ended session keeps its list's charge";
}

// A read-only share answers every change with its failure status and changes nothing;
// reading works as before.
TEST_F(Confinement, ReadOnlyShareChangesNothing)
{
    share.WriteFile("tree/a.txt", "a");
    CTestServer server([](CSessMan&, CDaemonOptions& options) { options.bReadOnly = true; });
    const auto before = Tree(share.Share());
    struct Change {
        uint8_t ucReq, ucReply;
        std::string payload, answer;
    };
    const Change changes[] = {
        {0x08, 0xF8, PathPayload("in/file.txt"), "\x01"},
        {0x09, 0xF9, PathPayload("made"), "\x01"},
        {0x0A, 0xFA, PathPayload("tree"), "\x01"},
        {0x0D, 0xFD, std::string(1, '\x01') + U32(1) + "new" + '\0', "\x01"},
        {0x2D, 0xDD, std::string(1, '\x01') + U32(1) + "new" + '\0', "\x01"},
        {0x27, 0xDD, std::string(1, '\x01') + LE(1, 8) + "new" + '\0', "\x01"},
        {0x2B, 0xFD, std::string(1, '\x01') + LE(1, 8) + "new" + '\0', "\x01"},
        {0x0B, 0xFB, std::string(1, '\x01') + "in/file.txt" + '\0' + "c.txt" + '\0', "\x01"},
        {0x0C, 0xFC, std::string(1, '\x01') + "in/file.txt" + '\0' + "m.txt" + '\0', "\x01"},
    };
    CStbSession client(server.Port());
    for (const Change& c : changes) {
        SCOPED_TRACE(int(c.ucReq));
        EXPECT_EQ(client.Ask(c.ucReq, c.payload, c.ucReply), c.answer);
    }
    // Refused before it started: a second copy request is not a poll of the first.
    EXPECT_EQ(client.Ask(0x0B, changes[7].payload, 0xFB), "\x01");
    EXPECT_EQ(client.Ask(0x02, PathPayload("in/file.txt"), 0xF2), std::string(1, '\0') + U32(6));

    CStbSession up(server.Port());
    EXPECT_EQ(up.Ask(0x14, std::string(1, '\x01') + U32(2) + LE(1, 8) + "dir/" + '\0', 0xE4), "\xFF");
    EXPECT_EQ(up.Ask(0x04, std::string(1, 'D') + U32(0) + "sub" + '\0', 0x40), std::string(1, '\x01') + U32(0));
    EXPECT_EQ(up.Ask(0x04, std::string(1, 'F') + U32(1) + "f" + '\0', 0x40), std::string(1, '\x02') + U32(0));

    CStbSession down(server.Port());
    const std::string listed = down.Ask(0x13, PathPayload("tree"), 0xE3);
    EXPECT_EQ(GetU32(listed, 1), 2u);
    EXPECT_EQ(down.Ask(0x19, U32(0x7FFFFFFF), 0xE9), std::string(1, '\xFF') + U32(0x7FFFFFFF));
    EXPECT_EQ(Tree(share.Share()), before);
}

// The shared folder reached through a link that stays inside ("drop/self" leads to "..")
// is the shared folder itself, told by what the path reaches, not by its text: removing,
// copying or moving it answers as "/." does, and the removal after a directory download
// deletes nothing through the link; the share stays whole, with and without wide links.
TEST_F(Confinement, SharedFolderReachedThroughALinkIsTheFolderItself)
{
    if (!m_strNoLinks.empty())
        GTEST_SKIP() << kNoLinks << m_strNoLinks;
    share.WriteFile("drop/keep.txt", "kept");
    share.WriteFile("deep/er/keep.txt", "kept");
    ASSERT_EQ(MakeLink("..", share.Path("drop/self"), true), "");
    const auto before = Tree(share.Share());
    // Puts back what the move of the whole shared folder took (it empties the folder),
    // adding only what is missing: nothing is deleted, nothing is reached through a link.
    auto restore = [&] {
        for (const auto& [rel, what] : before) {
            const std::string path = share.Path(rel);
            if (what == "<dir>")
                fs::create_directories(LocalFsPath(path));
            else if (what.rfind("-> ", 0) == 0 && !Exists(path))
                ASSERT_EQ(MakeLink(what.substr(3), path, rel != "dangling"), "");
            else if (what.rfind("-> ", 0) != 0)
                share.WriteFile(rel, what);
        }
        ASSERT_EQ(Tree(share.Share()), before);
    };
    // The answer of a request (a copy or move polled to its end; a directory download and
    // the removal of all it listed) on a session of its own.
    auto operation = [](uint8_t req, uint8_t reply) {
        return [req, reply](CStbSession& stb, const std::string& path) {
            const std::string payload = std::string(1, '\x01') + path + '\0' + "backup" + '\0';
            std::string status = stb.Ask(req, payload, reply);
            EXPECT_TRUE(WaitFor([&] { return status != "\x02" || (status = stb.Ask(req, payload, reply)) != "\x02"; }));
            return status;
        };
    };
    struct Case {
        const char* pszName;
        const char* pszViaLink;
        std::function<std::string(CStbSession&, const std::string&)> fnRun;
    } cases[] = {
        {"FC_RMDIR_REQ", "/drop/self/.",
         [](CStbSession& stb, const std::string& path) { return stb.Ask(0x0A, PathPayload(path), 0xFA); }},
        {"FC_FILE_CPY_REQ", "/drop/self/.", operation(0x0B, 0xFB)},
        {"FC_FILE_MOV_REQ", "/drop/self/.", operation(0x0C, 0xFC)},
        {"FC_DIR_DN_REQ and RS_AFTER_MOVE_REQ", "/drop/self",
         [](CStbSession& stb, const std::string& path) {
             const std::string listed = stb.Ask(0x13, PathPayload(path), 0xE3);
             return listed + stb.Ask(0x19, LE(GetU32(listed, 1), 4), 0xE9);
         }},
    };
    for (const bool bWide : {false, true}) {
        CTestServer server([bWide](CSessMan&, CDaemonOptions& options) { options.bWideLinks = bWide; });
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << c.pszName << (bWide ? " with wide links" : ""));
            CStbSession viaLink(server.Port());
            const std::string answer = c.fnRun(viaLink, c.pszViaLink);
            ASSERT_EQ(Tree(share.Share()), before);
            CStbSession itself(server.Port());
            EXPECT_EQ(answer, c.fnRun(itself, "/."));
            ASSERT_NO_FATAL_FAILURE(restore());
        }
    }
}

}  // namespace
