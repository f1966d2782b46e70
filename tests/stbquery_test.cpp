// The model and version query (request 0x12) over loopback: the newest ".stb" firmware
// file directly in the shared folder for the STB's model.
#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

#include "tests/test_bytes.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

// A firmware header: big-endian model at 16 and version at 22; every other byte is filler
// so that a field read at the wrong place shows.
std::string Header(uint16_t model, uint16_t version, size_t length = 32)
{
    std::string h(std::max<size_t>(length, 32), '\xEE');
    h[16] = static_cast<char>(model >> 8);
    h[17] = static_cast<char>(model);
    h[22] = static_cast<char>(version >> 8);
    h[23] = static_cast<char>(version);
    h.resize(length);
    return h;
}

std::string Query(uint16_t model, uint16_t version) { return std::string(1, '\x09') + LE(model, 2) + LE(version, 2) + '\0'; }

std::string Found(const std::string& name) { return std::string(1, '\0') + name + '\0'; }

std::string NotFound(uint16_t version) { return std::string(3, '\0') + static_cast<char>(version & 0xFF); }

class StbQuery : public SessionFixture {
protected:
    // The reply payload, or "<none>" when no 0xE2 frame came.
    std::string Ask(const std::string& payload)
    {
        auto [cmd, reply] = client.Exchange(0x12, payload);
        return cmd == 0xE2 ? reply : "<none>";
    }
};

TEST_F(StbQuery, WorkedExampleIsByteExact)
{
    share.WriteFile("A.stb", Header(0x1234, 0x0102) + "firmware A");
    share.WriteFile("B.stb", Header(0x1234, 0x0105) + "firmware B");
    client.SendFrame(0x12, Query(0x1234, 0x0101));
    EXPECT_EQ(client.RecvBytes(12), MakeFrame(0xE2, Found("B.stb")));
    client.SendFrame(0x12, Query(0x1234, 0x0105));
    EXPECT_EQ(client.RecvBytes(9), std::string("\xA5\x06\x00\xE2\x00\x00\x00\x05\x25", 9));
    EXPECT_TRUE(client.Settled());
}

// The highest version strictly above the request, for the model asked; nothing that is not
// a ".stb" file directly in the shared folder, nor a header shorter than 32 bytes.
TEST_F(StbQuery, HighestVersionAboveTheRequestForTheModelWins)
{
    share.WriteFile("A.stb", Header(0x1234, 0x0102));
    share.WriteFile("B.stb", Header(0x1234, 0x0105) + "tail");
    share.WriteFile("c.stb", Header(0x1234, 0x0103));
    share.WriteFile("other.stb", Header(0x4321, 0x0900));
    share.WriteFile("short.stb", Header(0x1234, 0x0F00, 31));
    share.WriteFile("sub/deep.stb", Header(0x1234, 0x0E00));
    share.WriteFile("dir.stb/inner.stb", Header(0x1234, 0x0E01));
    share.WriteFile("notes.stb.txt", Header(0x1234, 0x0D00));
    share.WriteFile("plain.st", Header(0x1234, 0x0D01));
    struct Case {
        uint16_t model, version;
        const char* name;  // nullptr: not found
    } cases[] = {
        {0x1234, 0x0000, "B.stb"}, {0x1234, 0x0101, "B.stb"}, {0x1234, 0x0104, "B.stb"},
        {0x1234, 0x0105, nullptr}, {0x1234, 0x0106, nullptr}, {0x1234, 0xFFFF, nullptr},
        {0x4321, 0x08FF, "other.stb"}, {0x4321, 0x0900, nullptr}, {0x3412, 0x0000, nullptr},
        {0x0000, 0x0000, nullptr}, {0xEEEE, 0x0000, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.model << " " << c.version);
        EXPECT_EQ(Ask(Query(c.model, c.version)), c.name ? Found(c.name) : NotFound(c.version));
    }
}

// Equal versions: the first in name order (a-z folded to A-Z, so "_" after letters) wins.
TEST_F(StbQuery, TieGoesToTheFirstInFoldedNameOrder)
{
    share.WriteFile("_x.stb", Header(0x1234, 0x0200));
    share.WriteFile("Zed.stb", Header(0x1234, 0x0200));
    share.WriteFile("b.stb", Header(0x1234, 0x0150));
    share.WriteFile("apple.stb", Header(0x1234, 0x0200));
    EXPECT_EQ(Ask(Query(0x1234, 0x0100)), Found("apple.stb"));
    ASSERT_EQ(unlink(share.Path("apple.stb").c_str()), 0);
    EXPECT_EQ(Ask(Query(0x1234, 0x0100)), Found("Zed.stb"));
}

TEST_F(StbQuery, ExtensionMatchesInAnyCase)
{
    struct Case {
        const char* name;
        bool found;
    } cases[] = {{"FW.STB", true}, {"fw.Stb", true}, {".stb", true},     {"fw.stbx", false},
                 {"fw_stb", false}, {"fwstb", false}, {"fw.stb.bak", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        share.WriteFile(c.name, Header(0x0BEE, 0x0300));
        EXPECT_EQ(Ask(Query(0x0BEE, 0x0001)), c.found ? Found(c.name) : NotFound(0x0001));
        ASSERT_EQ(unlink(share.Path(c.name).c_str()), 0);
    }
}

TEST_F(StbQuery, FilesShorterThanAHeaderAreSkipped)
{
    for (size_t length : {20, 31, 32}) {
        SCOPED_TRACE(length);
        share.WriteFile("fw.stb", Header(0x1234, 0x0300, length));
        EXPECT_EQ(Ask(Query(0x1234, 0x0000)), length >= 32 ? Found("fw.stb") : NotFound(0));
    }
}

// Fields a short query leaves out read as 0, never as bytes of an earlier frame.
TEST_F(StbQuery, ShortQueryReadsMissingBytesAsZero)
{
    share.WriteFile("fw.stb", Header(0x1234, 0x0105));
    struct Case {
        std::string payload;
        std::string reply;
    } cases[] = {
        {std::string("\x01\x34\x12\x00", 4), Found("fw.stb")},          // version 0
        {std::string("\x01\x34\x00", 3), NotFound(0)},                  // model 0x0034
        {std::string("\x01\x34\x12\x05\x00", 5), Found("fw.stb")},      // version 0x0005
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload.size());
        // The earlier query leaves 0xFF behind the short one's end.
        EXPECT_EQ(Ask(std::string("\x01\xFF\xFF\xFF\xFF\xFF\xFF\x00", 8)), NotFound(0xFF));
        EXPECT_EQ(Ask(c.payload), c.reply);
    }
}

TEST_F(StbQuery, InvalidQueryAnswersNothing)
{
    share.WriteFile("fw.stb", Header(0x1234, 0x0105));
    for (const std::string& payload : {std::string("\x01\x34\x12\x01\x01\x01", 6), std::string("\x01\x00", 2),
                                       std::string()}) {
        SCOPED_TRACE(payload.size());
        client.SendFrame(0x12, payload);
        EXPECT_TRUE(client.Settled());
    }
    EXPECT_EQ(Ask(Query(0x1234, 0x0101)), Found("fw.stb"));
}

// The query opens the firmware files on its own: a download served from disk in the same
// session goes on serving the right bytes, whichever file it is.
TEST_F(StbQuery, QueryLeavesADirectDownloadWorking)
{
    const size_t size = 10485761;
    const std::string big = RandomBytes(size, 11);
    share.WriteFile("big.bin", big);
    share.WriteFile("fw.stb", Header(0x1234, 0x0200));
    share.WriteFile("huge.stb", Header(0x1234, 0x0300) + RandomBytes(size, 12));
    const std::string huge = share.ReadFile("huge.stb");
    for (const char* name : {"big.bin", "huge.stb"}) {
        SCOPED_TRACE(name);
        const std::string& bytes = std::string(name) == "big.bin" ? big : huge;
        ASSERT_EQ(client.Ask(0x02, std::string(1, '\0') + name + '\0', 0xF2),
                  std::string(1, '\0') + LE(bytes.size(), 4));
        const std::string answer = Ask(Query(0x1234, 0x0100));
        if (std::string(name) == "big.bin")
            EXPECT_EQ(answer, Found("huge.stb"));
        else
            EXPECT_NE(answer, "<none>");
        // The tail of the file, in 32 KiB frames led by their offsets; nothing after them.
        const uint32_t off = static_cast<uint32_t>(bytes.size() - 70000);
        EXPECT_TRUE(client.Fetch(0x23, off, 100000, 70000) == bytes.substr(off))
            << "the download served other bytes after the query";
    }
}

}  // namespace
