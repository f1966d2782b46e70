// Diagnostic lines: whatever bytes a name from the network holds, one call is one line.
#include <gtest/gtest.h>

#include <string>

#include "platform/log.h"

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

TEST(Trace, ControlBytesAreEscapedSoEachCallIsOneLine)
{
    struct Case {
        std::string strText, strLine;
    };
    const Case cases[] = {
        {"/share/a\nSess(deadbeef) end...\n", "(41) /share/a\\x0aSess(deadbeef) end...\\x0a\n"},
        {"a\tb\rc\x01\x1f\x7f", "(41) a\\x09b\\x0dc\\x01\\x1f\\x7f\n"},
        {"\xC3\xA9 \\x41 ~ \x80\xFF", "(41) \xC3\xA9 \\x41 ~ \x80\xFF\n"},  // only controls change
    };
    for (const Case& c : cases)
        EXPECT_EQ(TraceOf(c.strText), c.strLine);
}

TEST(Trace, LongOrUnendedTextStillEndsItsLine)
{
    EXPECT_EQ(TraceOf("no end", false), "(41) no end\n");
    const std::string strLong = std::string(3000, 'a') + "\n" + std::string(3000, 'b');
    EXPECT_EQ(TraceOf(strLong), "(41) " + std::string(3000, 'a') + "\\x0a" + std::string(3000, 'b') + "\n");
}
