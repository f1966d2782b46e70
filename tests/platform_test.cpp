// The operating-system layer: enumeration order, wildcard patterns, share modes of the
// transfer files and deletion, the computer's own addresses.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <vector>

#include "platform/dir.h"
#include "platform/file.h"
#include "platform/netif.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;
using plat::OpenMode;

TEST(EnumDirectory, DotsFirstThenFoldedOrder)
{
#ifdef _WIN32
    GTEST_SKIP() << "names that differ only in case (a, A) are one name on Windows";
#endif
    CTempShare share;
    for (const char* psz : {"b", "A", "_x", "a", "Zeta", "\xC3\xA9", "ab"})
        share.WriteFile(psz, psz);
    fs::create_directory(share.Path("B"));
    fs::create_directory_symlink("B", share.Path("link"));

    std::vector<plat::FindEntry> entries;
    ASSERT_EQ(plat::EnumDirectory(plat::CShare{share.Share()}, share.Share(), entries), 0);
    std::vector<std::string> names;
    for (const auto& e : entries)
        names.push_back(e.strName);
    const std::vector<std::string> expected{".", "..", "A", "a", "ab", "B", "b", "link", "Zeta", "_x", "\xC3\xA9"};
    EXPECT_EQ(names, expected);
    for (const auto& e : entries) {
        SCOPED_TRACE(e.strName);
        bool bDir = e.strName == "." || e.strName == ".." || e.strName == "B" || e.strName == "link";
        EXPECT_EQ(e.bDir, bDir);
        EXPECT_EQ(e.bLink, e.strName == "link");
        EXPECT_EQ(e.ullSize, bDir ? 0u : e.strName.size());
    }
    EXPECT_EQ(plat::EnumDirectory(plat::CShare{share.Share()}, share.Path("missing"), entries), -1);
}

TEST(MatchPattern, WildcardsWithFoldedCase)
{
    struct Case {
        const char *pszName, *pszPattern;
        bool bMatch;
    };
    const Case cases[] = {
        {"FW.STB", "*.stb", true},  {"fw.stb", "*.STB", true},  {"a.b.stb", "*.stb", true},
        {"fw.stbx", "*.stb", false}, {"stb", "*.stb", false},    {"abc", "a?c", true},
        {"ac", "a?c", false},        {"abcabd", "*abd", true},  {"", "*", true},
        {"x", "", false},            {"\xC3\xA9", "\xC3\x89", false},  // only ASCII folds
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::MatchPattern(c.pszName, c.pszPattern), c.bMatch) << c.pszName << " ~ " << c.pszPattern;
}

// A second opener while the first holds the file; a refused write opener leaves the
// bytes untouched.
TEST(CPlatFile, ShareModes)
{
    struct Case {
        const char* pszName;
        OpenMode first, second;
        bool bSecondOpens;
    };
    const Case cases[] = {
        {"download, download", OpenMode::Download, OpenMode::Download, true},
        {"download, upload target", OpenMode::Download, OpenMode::UploadTarget, false},
        {"download, upload completion", OpenMode::Download, OpenMode::UploadCompletion, false},
        {"download, probe", OpenMode::Download, OpenMode::Probe, false},
        {"upload target, download", OpenMode::UploadTarget, OpenMode::Download, false},
        {"upload completion, upload target", OpenMode::UploadCompletion, OpenMode::UploadTarget, false},
        {"probe, download", OpenMode::Probe, OpenMode::Download, false},
    };
    CTempShare share;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        share.WriteFile("f", "content");
        plat::CPlatFile first, second;
        ASSERT_EQ(first.Open(plat::CShare{share.Share()}, share.Path("f"), c.first), 0);
        EXPECT_EQ(second.Open(plat::CShare{share.Share()}, share.Path("f"), c.second), c.bSecondOpens ? 0 : -1);
        EXPECT_EQ(second.IsOpen(), c.bSecondOpens);
#ifndef _WIN32  // Windows' share modes keep the test itself from reading a file held this way
        if (c.first != OpenMode::UploadTarget) {
            EXPECT_EQ(share.ReadFile("f"), "content");
        }
#endif
        first.Close();
        second.Close();
        EXPECT_EQ(second.Open(plat::CShare{share.Share()}, share.Path("f"), c.second), 0) << "still refused once the first opener closed";
    }
}

TEST(CPlatFile, RefusedOpens)
{
    CTempShare share;
    share.WriteFile("ro", "keep");
    chmod(share.Path("ro").c_str(), 0444);
    fs::create_directory(share.Path("dir"));
    plat::CPlatFile f;
    EXPECT_EQ(f.Open(plat::CShare{share.Share()}, share.Path("dir"), OpenMode::Download), -1);
    EXPECT_EQ(f.Open(plat::CShare{share.Share()}, share.Path("missing"), OpenMode::Download), -1);
    EXPECT_EQ(f.Open(plat::CShare{share.Share()}, share.Path("missing"), OpenMode::UploadCompletion), -1);
    EXPECT_FALSE(fs::exists(share.Path("missing")));
    EXPECT_EQ(f.Open(plat::CShare{share.Share()}, share.Path("ro"), OpenMode::UploadTarget), -1);
    EXPECT_EQ(share.ReadFile("ro"), "keep");
    EXPECT_FALSE(f.IsOpen());
}

TEST(DeleteFile, RefusesFilesInUseOrReadOnly)
{
#ifdef _WIN32
    GTEST_SKIP() << "makes symbolic links, which need a privilege on Windows (and which Wine cannot make)";
#endif
    CTempShare share;
    share.WriteFile("held", "x");
    share.WriteFile("ro", "x");
    share.WriteFile("target", "x");
    chmod(share.Path("ro").c_str(), 0444);
    fs::create_symlink(share.Path("target"), share.Path("link"));
    fs::create_directory(share.Path("dir"));

    plat::CPlatFile reader;
    ASSERT_EQ(reader.Open(plat::CShare{share.Share()}, share.Path("held"), OpenMode::Download), 0);
    EXPECT_LT(plat::DeleteFile(plat::CShare{share.Share()}, share.Path("held")), 0);
    EXPECT_TRUE(fs::exists(share.Path("held")));
    reader.Close();
    EXPECT_EQ(plat::DeleteFile(plat::CShare{share.Share()}, share.Path("held")), 0);
    EXPECT_FALSE(fs::exists(share.Path("held")));

    EXPECT_LT(plat::DeleteFile(plat::CShare{share.Share()}, share.Path("ro")), 0);
    EXPECT_TRUE(fs::exists(share.Path("ro")));

    EXPECT_EQ(plat::DeleteFile(plat::CShare{share.Share()}, share.Path("link")), 0);
    EXPECT_FALSE(fs::is_symlink(share.Path("link")));
    EXPECT_EQ(share.ReadFile("target"), "x");

    EXPECT_LT(plat::DeleteFile(plat::CShare{share.Share()}, share.Path("dir")), 0);
    EXPECT_LT(plat::DeleteFile(plat::CShare{share.Share()}, share.Path("missing")), 0);
}

TEST(LocalAddresses, LoopbackIsLeftOutAndEachAddressComesOnce)
{
    // This computer's listing, whatever its interfaces: 127.0.0.1 is up on every one of
    // them, and no STB could reach it.
    std::vector<uint32_t> addrs;
    ASSERT_EQ(plat::ListLocalIPv4(addrs), 0);
    for (size_t i = 0; i < addrs.size(); ++i) {
        SCOPED_TRACE(addrs[i]);
        EXPECT_NE(addrs[i] >> 24, 127u);
        EXPECT_NE(addrs[i], 0u);
        for (size_t j = 0; j < i; ++j)
            EXPECT_NE(addrs[i], addrs[j]);
    }
}
