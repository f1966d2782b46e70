// Directory download over loopback: FC_DIR_DN_REQ and its sub-loop (RS_FILE_DN_REQ,
// RS_DATA_REQ, RS_AFTER_MOVE_REQ).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;

// Makes a new folder; one already there is a test failure.
void MakeDir(const std::string& path)
{
    std::error_code ec;
    ASSERT_TRUE(fs::create_directory(LocalFsPath(path), ec)) << path << ": " << ec.message();
}

// RS_FILE_DN_REQ's replies: an entry, and the end of the list.
CReply Entry(uint8_t status, uint64_t size, int width, const std::string& name)
{
    return {0x10, std::string(1, static_cast<char>(status)) + LE(size, width) + name + '\0'};
}

CReply End(uint32_t index) { return {0x03, LE(index, 4) + '\0'}; }

class DirDownFixture : public SessionFixture {
protected:
    // Starts the transaction; returns the entry count and the total, checking the tag.
    std::pair<uint32_t, uint64_t> List(const std::string& path, uint8_t tag = 0x07)
    {
        const std::string reply = client.Ask(0x13, std::string(1, static_cast<char>(tag)) + path + '\0', 0xE3);
        if (reply.size() != 13) {
            ADD_FAILURE() << "listing reply of " << reply.size() << " bytes";
            return {0, 0};
        }
        EXPECT_EQ(static_cast<uint8_t>(reply[0]), tag);
        return {GetU32(reply, 1), GetLE(reply, 5, 8)};
    }

    CReply Open(uint32_t index) { return client.Exchange(0x01, LE(index, 4)); }
};

using DirDownload = DirDownFixture;

TEST_F(DirDownload, WorkedListingAndMoveRepliesAreByteExact)
{
    share.WriteFile("T/a.bin", std::string(600, 'a'));
    share.WriteFile("T/b.bin", std::string(400, 'b'));
    client.SendFrame(0x13, std::string("\0/T\0", 4));
    EXPECT_EQ(client.RecvBytes(18),
              std::string("\xA5\x0F\x00\xE3\x00\x03\x00\x00\x00\xE8\x03\x00\x00\x00\x00\x00\x00\x0F", 18));
    client.SendFrame(0x19, LE(3, 4));
    EXPECT_EQ(client.RecvBytes(10), std::string("\xA5\x07\x00\xE9\x03\x03\x00\x00\x00\x2D", 10));
    EXPECT_FALSE(Exists(share.Path("T"))) << "the moved folder stayed";
    EXPECT_TRUE(Exists(share.Share()));
}

// Parents before children, names in folded order ("_" after letters), each entry relative
// to the requested folder's parent, and every file served from where the entry says.
TEST_F(DirDownload, WalkIsDepthFirstInFoldedNameOrder)
{
    const std::vector<std::pair<std::string, size_t>> files = {
        {"media/T/A/z.bin", 5000},  {"media/T/A/_u.bin", 10},      {"media/T/apple.txt", 4097},
        {"media/T/b.txt", 100},     {"media/T/c/deep/x", 70000},   {"media/T/Zed.txt", 1},
        {"media/T/_last.txt", 3},   {"media/other.txt", 9},
    };
    std::map<std::string, std::string> content;
    unsigned seed = 1;
    for (const auto& [rel, size] : files) {
        content[rel.substr(6)] = RandomBytes(size, seed++);
        share.WriteFile(rel, content[rel.substr(6)]);
    }
    const std::vector<std::string> order = {"T/",          "T/A/",   "T/A/z.bin",   "T/A/_u.bin",
                                            "T/apple.txt", "T/b.txt", "T/c/",       "T/c/deep/",
                                            "T/c/deep/x",  "T/Zed.txt", "T/_last.txt"};
    auto [count, total] = List("/media/T");
    ASSERT_EQ(count, order.size());
    EXPECT_EQ(total, 5000u + 10 + 4097 + 100 + 70000 + 1 + 3);
    for (uint32_t i = 0; i < order.size(); ++i) {
        SCOPED_TRACE(order[i]);
        const bool folder = order[i].back() == '/';
        const size_t size = folder ? 0 : content[order[i]].size();
        EXPECT_EQ(Open(i), Entry(0, size, 4, order[i]));
        if (!folder) {
            EXPECT_EQ(client.Fetch(36, 0, 0xFFFFFFFF, size), content[order[i]]);
            EXPECT_EQ(client.Fetch(2, 1, 5000, std::min<size_t>(size - 1, 5000)), content[order[i]].substr(1, 5000));
        }
    }
    EXPECT_EQ(Open(static_cast<uint32_t>(order.size())), End(order.size()));
}

// An index at the count ends the list: it is emptied, and entry 0 is gone too.
TEST_F(DirDownload, EmptyFolderIsOneEntryAndIndexAtCountEndsTheList)
{
    ASSERT_NO_FATAL_FAILURE(MakeDir(share.Path("E")));
    EXPECT_EQ(List("E"), std::make_pair(uint32_t{1}, uint64_t{0}));
    EXPECT_EQ(Open(0), Entry(0, 0, 4, "E/"));
    EXPECT_EQ(Open(1), End(1));
    EXPECT_EQ(Open(0), End(0));
    EXPECT_TRUE(Exists(share.Path("E")));
}

// A folder entry records size 0: no data of an entry opened before it may be served, nor
// of a file that went away after the listing.
TEST_F(DirDownload, DataRequestAfterFolderOrVanishedEntryGetsErrorFrame)
{
    const std::string bytes = RandomBytes(3000, 7);
    share.WriteFile("T/a.bin", bytes);
    share.WriteFile("T/gone.bin", "soon gone");
    ASSERT_EQ(List("/T").first, 3u);
    EXPECT_EQ(Open(1), Entry(0, 3000, 4, "T/a.bin"));
    EXPECT_EQ(client.Fetch(2, 0, 3000, 3000), bytes);
    EXPECT_EQ(Open(0), Entry(0, 0, 4, "T/"));
    EXPECT_EQ(client.Fetch(2, 0, 100, 0), "");
    EXPECT_EQ(client.Fetch(36, 0, 100, 0), "");

    ASSERT_EQ(Open(1).first, 0x10);
    std::error_code ec;
    ASSERT_TRUE(fs::remove(share.Path("T/gone.bin"), ec)) << ec.message();
    auto [cmd, reply] = Open(2);
    EXPECT_EQ(cmd, 0x10);
    ASSERT_EQ(reply.size(), 1 + 4 + std::string("T/gone.bin").size() + 1);
    EXPECT_EQ(reply[0], '\x01') << "status of an entry that cannot be opened";
    EXPECT_EQ(reply.substr(5), std::string("T/gone.bin") + '\0');
    EXPECT_EQ(client.Fetch(2, 0, 100, 0), "");
}

// Files of length 0 or of 4 GiB and more take the 64-bit form; the total is 64 bits wide.
TEST_F(DirDownload, EmptyAndHugeFilesUseTheLongForm)
{
    share.WriteFile("L/empty.bin", "");
    share.WriteFile("L/small.bin", "12345");
    MakeSparse(share.Path("L/huge.bin"), k4GiB + 10);
    EXPECT_EQ(List("/L"), std::make_pair(uint32_t{4}, k4GiB + 15));
    EXPECT_EQ(Open(1), Entry(0, 0, 8, "L/empty.bin"));
    EXPECT_EQ(client.Fetch(2, 0, 100, 0), "");
    EXPECT_EQ(Open(2), Entry(0, k4GiB + 10, 8, "L/huge.bin"));
    EXPECT_EQ(Open(3), Entry(0, 5, 4, "L/small.bin"));
    EXPECT_EQ(client.Fetch(36, 0, 100, 5), "12345");
}

// A ".." component is refused: an empty list, and the session serves the sub-loop.
TEST_F(DirDownload, RefusedPathListsNothingButEntersTheSubLoop)
{
    MakeDir(share.Root() + "/outside");
    WriteLocalFile(share.Root() + "/outside/secret.txt", "outside");
    EXPECT_EQ(List("/../outside"), std::make_pair(uint32_t{0}, uint64_t{0}));
    client.SendFrame(0x11, "");
    EXPECT_TRUE(client.Settled(kDirDownProbe)) << "FC_VER_REQ answered inside the sub-loop";
    EXPECT_EQ(Open(0), End(0));
    client.SendFrame(0x19, LE(5, 4));
    EXPECT_EQ(client.RecvBytes(10), std::string("\xA5\x07\x00\xE9\x05\x05\x00\x00\x00\x31", 10));
    EXPECT_EQ(ReadLocalFile(share.Root() + "/outside/secret.txt"), "outside");
}

TEST_F(DirDownload, InvalidRequestAnswersNothingAndStaysInMainLoop)
{
    share.WriteFile("T/a.bin", "abc");
    for (const std::string& payload : {std::string("\x01/T", 3), std::string("\x01\x00", 2), std::string()}) {
        SCOPED_TRACE(payload.size());
        client.SendFrame(0x13, payload);
        EXPECT_TRUE(client.Settled(kMainLoopProbe));
    }
    EXPECT_EQ(List("/T"), std::make_pair(uint32_t{2}, uint64_t{3}));
}

// Fields a short request leaves out read as 0, never as bytes of an earlier frame.
TEST_F(DirDownload, ShortSubLoopRequestsReadMissingBytesAsZero)
{
    share.WriteFile("T/a.bin", "abc");
    ASSERT_EQ(List("/T").first, 2u);
    EXPECT_EQ(client.Fetch(2, 0xFFFFFFFF, 0xFFFFFFFF, 0), "");  // leaves 0xFF bytes behind
    EXPECT_EQ(client.Exchange(0x01, "\x01"), Entry(0, 3, 4, "T/a.bin"));
    EXPECT_EQ(client.Fetch(2, 0xFFFFFFFF, 0xFFFFFFFF, 0), "");
    EXPECT_EQ(client.Exchange(0x19, "\x02"), CReply(0xE9, std::string("\x02\x02\0\0\0", 5)));
    EXPECT_FALSE(Exists(share.Path("T"))) << "the move took a count other than 2";
}

// Inside the sub-loop, main-loop requests (FC_SESS_CLOSE included) are dropped silently.
TEST_F(DirDownload, MainLoopRequestsAreIgnoredInsideTheSubLoop)
{
    share.WriteFile("T/a.bin", "abc");
    ASSERT_EQ(List("/T").first, 2u);
    client.SendFrame(0x00, "");
    client.SendFrame(0x11, "");
    client.SendFrame(0x13, std::string("\0/T\0", 4));
    client.SendFrame(0x14, std::string(1, '\0') + LE(1, 4) + LE(1, 8) + "/\0" + '\0');
    client.SendFrame(0x12, std::string("\0\x34\x12\x01\x01\0", 6));
    client.SendFrame(0x07, std::string("\0/\0", 3));
    client.SendFrame(0x03, LE(0, 4) + LE(3, 4));
    EXPECT_TRUE(client.Settled(kDirDownProbe));
    EXPECT_EQ(Open(1), Entry(0, 3, 4, "T/a.bin"));
    EXPECT_EQ(client.Fetch(2, 0, 3, 3), "abc");
}

// Files among the first k entries go, then the emptied folders among them, deepest first.
TEST_F(DirDownload, MoveDeletesFilesOfTheFirstEntriesThenEmptiedFolders)
{
    // List: T/ T/A/ T/A/B/ T/A/B/f T/A/g T/h
    struct Case {
        int32_t k;
        std::vector<std::string> left;  // what remains below the shared folder
    } cases[] = {
        {0, {"T", "T/A", "T/A/B", "T/A/B/f", "T/A/g", "T/h"}},
        {-1, {"T", "T/A", "T/A/B", "T/A/B/f", "T/A/g", "T/h"}},
        {3, {"T", "T/A", "T/A/B", "T/A/B/f", "T/A/g", "T/h"}},
        {4, {"T", "T/A", "T/A/g", "T/h"}},
        {5, {"T", "T/h"}},
        {6, {}},
        {1000, {}},
        {0x7FFFFFFF, {}},
    };
    const std::vector<std::string> all = {"T", "T/A", "T/A/B", "T/A/B/f", "T/A/g", "T/h"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.k);
        share.WriteFile("T/A/B/f", "f");
        share.WriteFile("T/A/g", "g");
        share.WriteFile("T/h", "h");
        CStbSession stb(server.Port());
        ASSERT_EQ(GetU32(stb.Ask(0x13, std::string("\0/T\0", 4), 0xE3), 1), 6u);
        EXPECT_EQ(stb.Ask(0x19, LE(static_cast<uint32_t>(c.k), 4), 0xE9),
                  std::string(1, static_cast<char>(c.k)) + LE(static_cast<uint32_t>(c.k), 4));
        for (const std::string& rel : all) {
            const bool kept = std::find(c.left.begin(), c.left.end(), rel) != c.left.end();
            EXPECT_EQ(Exists(share.Path(rel)), kept) << rel;
        }
        EXPECT_TRUE(Exists(share.Share()));
        // The list is gone after the move.
        EXPECT_EQ(stb.Exchange(0x01, LE(0, 4)), End(0));
    }
}

// The entry opened last (a file served from disk, held open) does not keep itself from
// being deleted by the move.
TEST_F(DirDownload, MoveDeletesTheEntryThatIsStillOpen)
{
    const std::string bytes = RandomBytes(10485761, 3);
    share.WriteFile("T/big.bin", bytes);
    share.WriteFile("T/empty.bin", "");
    ASSERT_EQ(List("/T").first, 3u);
    EXPECT_EQ(Open(1), Entry(0, bytes.size(), 4, "T/big.bin"));
    EXPECT_EQ(client.Fetch(36, 10485761 - 40000, 50000, 40000), bytes.substr(10485761 - 40000));
    EXPECT_EQ(Open(2), Entry(0, 0, 8, "T/empty.bin"));
    EXPECT_EQ(Open(1).first, 0x10);
    client.Ask(0x19, LE(3, 4), 0xE9);
    EXPECT_FALSE(Exists(share.Path("T")));
    EXPECT_EQ(client.Fetch(2, 0, 100, 0), "") << "data of a deleted entry served after the move";
}

// A move of the whole shared folder empties it; the folder the user chose stays.
TEST_F(DirDownload, MoveOfTheSharedFolderEmptiesButKeepsIt)
{
    for (const char* path : {"/", "."}) {
        SCOPED_TRACE(path);
        share.WriteFile("a.bin", "a");
        share.WriteFile("T/b.bin", "bb");
        share.WriteFile("T/U/c.bin", "ccc");
        MakeDir(share.Path("Empty"));
        CStbSession stb(server.Port());
        const std::string listed = stb.Ask(0x13, std::string(1, '\0') + path + '\0', 0xE3);
        ASSERT_EQ(listed.size(), 13u);
        const uint32_t count = GetU32(listed, 1);
        EXPECT_EQ(count, 7u);
        EXPECT_EQ(GetLE(listed, 5, 8), 6u);
        stb.Ask(0x19, LE(count, 4), 0xE9);
        ASSERT_TRUE(Exists(share.Share())) << "the shared folder itself was removed";
        EXPECT_FALSE(Exists(share.Path("a.bin")));
        EXPECT_FALSE(Exists(share.Path("T")));
        EXPECT_FALSE(Exists(share.Path("Empty")));
    }
}

}  // namespace
