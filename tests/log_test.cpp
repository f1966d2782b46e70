// Diagnostic lines: whatever bytes a name from the network holds, one call is one line.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "net/protocol.h"
#include "platform/log.h"
#include "tests/test_bytes.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

// What one Trace("%s<end>", strText) writes to standard output.
std::string TraceOf(const std::string& strText, bool bLineEnd = true)
{
    plat::SetTraceQuiet(false);
    testing::internal::CaptureStdout();
    if (bLineEnd)
        plat::Trace("(%x) %s\n", 0x41, strText.c_str());
    else
        plat::Trace("(%x) %s", 0x41, strText.c_str());
    return testing::internal::GetCapturedStdout();
}

// The numbers of the "E ip" lines in what the daemon wrote, in order.
std::vector<int> ErrLinesIn(const std::string& strOut)
{
    std::vector<int> lines;
    std::istringstream in(strOut);
    std::string strLine;
    while (std::getline(in, strLine)) {
        if (strLine.rfind("E ip ", 0) == 0)
            lines.push_back(std::stoi(strLine.substr(5)));
    }
    return lines;
}

}  // namespace

// Nothing a name can hold ends the line, sends a terminal a control (C1 controls are
// controls in UTF-8 too), reorders what follows (bidirectional controls), or reads as an
// escape made here (the backslash itself is escaped).
TEST(Trace, ControlsAndBackslashesAreEscapedSoEachCallIsOneLineThatReadsOneWay)
{
    struct Case {
        std::string strText, strLine;
    };
    const Case cases[] = {
        {"/share/a\nSess(deadbeef) end...\n", "(41) /share/a\\x0aSess(deadbeef) end...\\x0a\n"},
        {"a\tb\rc\x01\x1f\x7f", "(41) a\\x09b\\x0dc\\x01\\x1f\\x7f\n"},
        {"\xC3\xA9 ~ \x80\xFF \xC2\xA0", "(41) \xC3\xA9 ~ \x80\xFF \xC2\xA0\n"},  // other bytes stay
        // A name holding the four characters "\x0a" next to a real newline.
        {"a\\x0a\n", "(41) a\\x5cx0a\\x0a\n"},
        {"\\\\", "(41) \\x5c\\x5c\n"},
        // C1 controls (U+0080..U+009F: CSI is U+009B), each of their bytes; the lone bytes
        // and a C2 before anything else stay.
        {"/c1\xC2\x9B" "x \xC2\x80\xC2\x9F", "(41) /c1\\xc2\\x9bx \\xc2\\x80\\xc2\\x9f\n"},
        {"\x9B \xC2\x7F \xC2", "(41) \x9B \xC2\\x7f \xC2\n"},
        // Bidirectional embeddings, overrides and isolates; their neighbours U+2029 and
        // U+206A stay, as does a sequence cut short at the end.
        {"\xE2\x80\xAA" "a\xE2\x80\xAE" "b\xE2\x81\xA6" "c\xE2\x81\xA9",
         "(41) \\xe2\\x80\\xaaa\\xe2\\x80\\xaeb\\xe2\\x81\\xa6c\\xe2\\x81\\xa9\n"},
        {"\xE2\x80\xA9 \xE2\x81\xAA \xE2\x80", "(41) \xE2\x80\xA9 \xE2\x81\xAA \xE2\x80\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strLine);
        EXPECT_EQ(TraceOf(c.strText), c.strLine);
    }
}

// The daemon's own line for a request whose path holds a C1 control.
TEST(Trace, RequestPathWithAC1ControlIsLoggedEscaped)
{
    CTempShare share;
    CTestServer server;
    plat::SetTraceQuiet(false);
    testing::internal::CaptureStdout();
    {
        CStbSession stb(server.Port());
        stb.Ask(FC_DIR_REQ, PathPayload("/c1\xC2\x9B" "x"), FC_DIR_REP);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(Contains(out, "/c1\\xc2\\x9bx")) << out;
    EXPECT_FALSE(Contains(out, "\xC2\x9B")) << out;
}

TEST(Trace, LongOrUnendedTextStillEndsItsLine)
{
    EXPECT_EQ(TraceOf("no end", false), "(41) no end\n");
    const std::string strLong = std::string(3000, 'a') + "\n" + std::string(3000, 'b');
    EXPECT_EQ(TraceOf(strLong), "(41) " + std::string(3000, 'a') + "\\x0a" + std::string(3000, 'b') + "\n");
}

// Every place of the handlers that prints an "E ip" line prints its own number, the same
// from one version to the next, so that logs can be compared: a buffer or a transfer file
// that an earlier transfer left, and the steps of the directory transactions' entries.
// (The short read of a directory-download entry, 1404, needs a file that shrinks between
// its size and its read, and is left out.)
TEST(Trace, EachHandlerPlacePrintsItsOwnFixedErrLine)
{
    constexpr uint64_t kLarge = 11u << 20;  // above what is read into memory or collected there
    const std::string strTen(10, 'u');
    const auto Open = [](CStbSession& stb, const std::string& strPath) {
        stb.Exchange(FC_FILE_DN_REQ, PathPayload(strPath));
    };
    // FC_DIR_DN_REQ of the folder, then RS_FILE_DN_REQ of every entry and one past them.
    const auto DirDown = [](CStbSession& stb, const std::string& strPath, const std::function<void()>& before) {
        stb.Exchange(FC_DIR_DN_REQ, PathPayload(strPath, '\x07'));
        before();
        for (uint32_t i = 0; stb.Exchange(RS_FILE_DN_REQ, LE(i, 4)).first == RS_FILE_DN_REP; ++i) {
        }
    };
    struct Case {
        const char* pszName;
        bool bNoBuffers;  // a budget of 0: every upload is written straight to its file
        std::function<void(CStbSession&, const CTempShare&)> run;
        std::vector<int> lines;
    };
    const Case cases[] = {
        {"a listing after a listing", false,
         [](CStbSession& stb, const CTempShare&) {
             stb.Exchange(FC_DIR_REQ, PathPayload("/"));
             stb.Exchange(FC_DIR_REQ, PathPayload("/"));
         },
         {945}},
        {"downloads after a buffer and a file", false,
         [&](CStbSession& stb, const CTempShare&) {
             Open(stb, "/a.bin");
             Open(stb, "/big.bin");
             Open(stb, "/a.bin");
         },
         {1041, 1049}},
        {"sizes after a buffer and a file", false,
         [&](CStbSession& stb, const CTempShare&) {
             Open(stb, "/a.bin");
             stb.Exchange(FC_FILE_SIZE_REQ, PathPayload("/a.bin"));
             Open(stb, "/big.bin");
             stb.Exchange(FC_FILE_SIZE_REQ, PathPayload("/a.bin"));
         },
         {1152, 1160}},
        {"FC_FILE_UP_REQ after a file and a buffer", false,
         [&](CStbSession& stb, const CTempShare&) {
             Open(stb, "/big.bin");
             stb.UploadOpen(FC_FILE_UP_REQ, 10, "/u1.bin");
             stb.UploadOpen(FC_FILE_UP_REQ, 10, "/u2.bin");  // the first one's buffer is still held
         },
         {1889, 1908}},
        {"FC_BIGFILE_UP_REQ after a file and a buffer", false,
         [&](CStbSession& stb, const CTempShare&) {
             Open(stb, "/big.bin");
             stb.UploadOpen(FC_BIGFILE_UP_REQ, 10, "/u1.bin");
             stb.UploadOpen(FC_BIGFILE_UP_REQ, 10, "/u2.bin");
         },
         {2134, 2153}},
        {"directory download entries after a buffer and a file, then the move", false,
         [&](CStbSession& stb, const CTempShare&) {
             DirDown(stb, "/T", [] {});
             stb.Exchange(RS_AFTER_MOVE_REQ, LE(0, 4));
         },
         {1364, 1372, 1557}},
        {"the move after a file", false,
         [&](CStbSession& stb, const CTempShare&) {
             DirDown(stb, "/L", [] {});
             stb.Exchange(RS_AFTER_MOVE_REQ, LE(0, 4));
         },
         {1565}},
        {"a directory download entry gone since the listing", false,
         [&](CStbSession& stb, const CTempShare& share) {
             DirDown(stb, "/G", [&] { std::filesystem::remove(LocalFsPath(share.Path("G/x.bin"))); });
         },
         {1379}},
        {"directory upload entries: a folder and a file that cannot be made, files collected", false,
         [&](CStbSession& stb, const CTempShare&) {
             stb.BeginDirUp("/", 1000, 4);
             stb.DirUpEntry(kEntryFolder, 0, "missing/sub");
             stb.DirUpEntry(kEntryFile, 10, "missing/x.bin");
             stb.DirUpEntry(kEntryFile, 10, "d1.bin");
             stb.DirUpEntry(kEntryFile, 10, "d2.bin");  // the first one's buffer is still held
         },
         {1638, 1655, 1677, 1669, 1677}},
        {"directory upload entries written straight to their files", true,
         [&](CStbSession& stb, const CTempShare&) {
             stb.BeginDirUp("/", 1000, 2);
             stb.DirUpEntry(kEntryFile, 10, "d1.bin");
             stb.DirUpEntry(kEntryFile, 10, "d2.bin");  // the first one's file is still open
             stb.DirUpBlock(0, strTen);
         },
         {1649, 1758}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTempShare share;
        share.WriteFile("a.bin", std::string(100, 'a'));
        share.WriteFile("big.bin", "");
        std::filesystem::resize_file(LocalFsPath(share.Path("big.bin")), kLarge);
        share.WriteFile("T/a.bin", std::string(100, 'a'));
        share.WriteFile("T/b.bin", "");
        std::filesystem::resize_file(LocalFsPath(share.Path("T/b.bin")), kLarge);
        share.WriteFile("T/c.bin", std::string(100, 'c'));
        share.WriteFile("L/b.bin", "");
        std::filesystem::resize_file(LocalFsPath(share.Path("L/b.bin")), kLarge);
        share.WriteFile("G/x.bin", "x");
        CTestServer server([&](CSessMan& man) {
            if (c.bNoBuffers)
                man.m_Budget.SetLimit(0);
        });
        CStbSession stb(server.Port());
        plat::SetTraceQuiet(false);
        testing::internal::CaptureStdout();
        c.run(stb, share);
        EXPECT_EQ(ErrLinesIn(testing::internal::GetCapturedStdout()), c.lines);
    }
}
