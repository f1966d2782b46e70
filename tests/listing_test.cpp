// Folder listings over loopback: FC_DIR_REQ and the block fetched with FC_DATA_REQ.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "tests/test_bytes.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;

std::string ListPayload(const std::string& path) { return PathPayload(path, '\x07'); }

struct Record {
    bool dir;
    std::string name;
    bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Record& r) { return os << (r.dir ? "[dir] " : "") << r.name; }

// Splits a block into its records; a malformed block is a test failure.
std::vector<Record> ParseBlock(const std::string& block)
{
    std::vector<Record> records;
    size_t at = 0;
    while (at < block.size()) {
        const uint8_t flag = static_cast<uint8_t>(block[at]);
        EXPECT_LE(flag, 1) << "flag byte at " << at;
        const size_t end = block.find('\0', at + 1);
        if (end == std::string::npos) {
            ADD_FAILURE() << "record at " << at << " has no terminating 0";
            break;
        }
        records.push_back({flag == 1, block.substr(at + 1, end - at - 1)});
        at = end + 1;
    }
    return records;
}

class ListingFixture : public SessionFixture {
protected:
    // Sends FC_DIR_REQ with the payload and returns the reply's payload.
    std::string ListRaw(const std::string& payload)
    {
        const std::string reply = client.Ask(7, payload, 0xF7);
        EXPECT_EQ(reply.size(), 5u);
        return reply;
    }

    // Lists a folder that must list; returns the block size.
    uint32_t List(const std::string& path)
    {
        std::string reply = ListRaw(ListPayload(path));
        if (reply.size() != 5 || reply[0] != 0) {
            ADD_FAILURE() << "listing of " << path << " failed";
            return 0;
        }
        return GetU32(reply, 1);
    }

    // The error frame of a data request that finds nothing to send.
    void ExpectErrorFrame(uint32_t off) { EXPECT_EQ(client.Fetch(3, off, 100, 0), ""); }
};

using DirListing = ListingFixture;

TEST_F(DirListing, EmptyFolderListsOnlyDotEntries)
{
    fs::create_directory(share.Path("empty"));
    for (const char* path : {"/empty", "\\empty", "empty"}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(List(path), 7u);
        EXPECT_EQ(client.Fetch(3, 0, 1000, 7), std::string("\x01.\0\x01..\0", 7));
    }
}

// Names sort as unsigned bytes with a-z folded to A-Z; "." and ".." come first.
TEST_F(DirListing, EntriesComeInFoldedOrderWithFolderFlags)
{
#ifdef _WIN32
    GTEST_SKIP() << "makes symbolic links, which need a privilege on Windows (and which Wine cannot make)";
#endif
    for (const char* file : {"b.txt", "B", "a", "A", "Abc", "_under", "Zeta", "~tilde", "0zero", "\xC3\xA9t\xC3\xA9", ".hidden",
                             "abc", "ABC_", ".corvane-copy-a1b2c3"})
        share.WriteFile(file, "x");  // the last a copy's temporary, never listed
    for (const char* dir : {"Docs", "c_dir", "x y"})
        fs::create_directory(share.Path(dir));
    share.WriteFile("Docs/inner.txt", "not listed at the top");
    fs::create_directory_symlink("Docs", share.Path("link"));
    const std::vector<Record> want = {
        {true, "."},       {true, ".."},     {false, ".hidden"}, {false, "0zero"}, {false, "A"},
        {false, "a"},      {false, "Abc"},   {false, "abc"},     {false, "ABC_"},  {false, "B"},
        {false, "b.txt"},  {true, "c_dir"},  {true, "Docs"},     {true, "link"},   {true, "x y"},
        {false, "Zeta"},   {false, "_under"}, {false, "~tilde"}, {false, "\xC3\xA9t\xC3\xA9"},
    };
    const uint32_t size = List("/");
    const std::string block = client.Fetch(35, 0, 0xFFFFFFFF, size);
    EXPECT_EQ(block.size(), size);
    EXPECT_EQ(ParseBlock(block), want);
}

TEST_F(DirListing, MissingFolderOrFileAnswersStatusOne)
{
    share.WriteFile("file.txt", "a file, not a folder");
    fs::create_directory(share.Path("held"));
    for (const char* path : {"/missing", "/missing/deeper", "/file.txt"}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(List("/held"), 7u);
        EXPECT_EQ(ListRaw(ListPayload(path)), std::string(1, '\x01') + U32(0));
        ExpectErrorFrame(0);
    }
}

// A malformed request keeps the held block but no 32-bit data request may reach it.
TEST_F(DirListing, InvalidRequestZeroesTheSizeOfTheHeldBlock)
{
    fs::create_directory(share.Path("d"));
    const std::string invalid[] = {std::string("\x07/d", 3), std::string("\x07", 1), std::string("\x07\x00", 2), ""};
    for (const std::string& payload : invalid) {
        SCOPED_TRACE(payload.size());
        ASSERT_EQ(List("/d"), 7u);
        EXPECT_EQ(ListRaw(payload), std::string(1, '\xFF') + U32(0));
        ExpectErrorFrame(0);
    }
}

TEST_F(DirListing, NewListingReplacesTheHeldOne)
{
    share.WriteFile("one/first.txt", "1");
    share.WriteFile("two/second_name.txt", "2");
    share.WriteFile("file.bin", std::string(5000, 'F'));
    ASSERT_EQ(List("/one"), 7u + 11u);
    EXPECT_EQ(client.Fetch(3, 0, 4, 4), std::string("\x01.\0\x01", 4));  // part of the first only
    const uint32_t size = List("/two");
    ASSERT_EQ(size, 7u + 17u);
    EXPECT_EQ(client.Fetch(3, 0, 100, size), std::string("\x01.\0\x01..\0\0second_name.txt\0", size));

    // A listing also replaces a file held for download.
    ASSERT_EQ(client.Ask(2, std::string("\x00/file.bin\x00", 11), 0xF2), std::string(1, '\0') + U32(5000));
    ASSERT_EQ(List("/one"), 18u);
    EXPECT_EQ(client.Fetch(3, 0, 5000, 18), std::string("\x01.\0\x01..\0\0first.txt\0", 18));
}

// A large block is fetched in pieces that do not fall on frame boundaries.
TEST_F(DirListing, LargeFolderFetchedInPiecesParsesIntoEveryEntry)
{
    std::vector<Record> want = {{true, "."}, {true, ".."}};
    uint32_t wantSize = 7;
    // The session may be silent 10 s between frames, less than making the files can take
    // (under Wine on a busy machine): a version request every 2 s keeps it.
    auto lastFrame = std::chrono::steady_clock::now();
    for (int i = 0; i < 3000; ++i) {
        if (std::chrono::steady_clock::now() - lastFrame > std::chrono::seconds(2)) {
            ASSERT_TRUE(client.Version());
            lastFrame = std::chrono::steady_clock::now();
        }
        char name[64];
        snprintf(name, sizeof(name), "entry_%05d_with_a_fairly_long_name", i);
        if (i % 10 == 0) {
            fs::create_directory(share.Path(name));
        } else {
            FILE* f = fopen(share.Path(name).c_str(), "w");
            ASSERT_NE(f, nullptr);
            fclose(f);
        }
        want.push_back({i % 10 == 0, name});
        wantSize += static_cast<uint32_t>(want.back().name.size() + 2);
    }
    const uint32_t size = List("/");
    ASSERT_EQ(size, wantSize);
    std::string block;
    const uint32_t piece = 40000;
    for (uint32_t off = 0; off < size; off += piece) {
        const size_t n = std::min(piece, size - off);
        std::string part = client.Fetch(35, off, piece, n);
        ASSERT_EQ(part.size(), n);
        block += part;
    }
    ExpectErrorFrame(size);
    EXPECT_EQ(ParseBlock(block), want);
}

TEST_F(DirListing, ParentComponentListsNothingOutside)
{
    fs::create_directories(share.Root() + "/outside");
    WriteLocalFile(share.Root() + "/outside/secret.txt", "not for the STB");
    fs::create_directory(share.Path("sub"));
    for (const char* path : {"..", "/..", "../outside", "\\..\\outside", "sub/../..", "sub/../../outside", "sub/.."}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(List("/sub"), 7u);
        EXPECT_EQ(ListRaw(ListPayload(path)), std::string(1, '\x01') + U32(0));
        ExpectErrorFrame(0);
    }
}

}  // namespace
