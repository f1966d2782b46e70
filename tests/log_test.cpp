// Diagnostic lines: whatever bytes a name from the network holds, one call is one line.
#include <gtest/gtest.h>

#include <string>

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
