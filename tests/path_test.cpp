// STB paths onto the shared folder, the settings file behind it, and the small path and
// volume helpers of the handlers.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

#include "app/settings.h"
#include "fs/path.h"
#include "net/sess.h"
#include "platform/volume.h"
#include "tests/test_util.h"

namespace {

class PathTest : public ::testing::Test {
protected:
    // Maps stb as a request would carry it: its bytes, the zero, then bytes of the frame
    // beyond it. The request buffer as the mapping left it goes to *pBuf.
    int Map(const std::string& stb, std::string& local, std::string* pBuf = nullptr)
    {
        std::vector<char> buf(stb.begin(), stb.end());
        for (char c : std::string("\0/tail", 6))
            buf.push_back(c);
        local = "left over";
        int rc = GetLocalPath(buf.data(), local);
        if (pBuf != nullptr)
            *pBuf = std::string(buf.data(), stb.size());
        return rc;
    }
    std::string IniPath() const { return m_Share.Root() + "/cfg/Corvane/corvane_tests.ini"; }

    CTempShare m_Share;
};

}  // namespace

TEST_F(PathTest, MapsBelowTheSharedFolder)
{
#ifdef _WIN32
    GTEST_SKIP() << "the mapping writes '/' for the shared folder's own separators too, so the expected text differs on Windows";
#endif
    const std::string& s = m_Share.Share();
    const std::pair<std::string, std::string> cases[] = {
        {"/movies/a.ts", s + "/movies/a.ts"}, {"\\x", s + "/x"},         {"a/b", s + "/a/b"},
        {"", s + "/"},                        {"a\\b\\c", s + "/a/b/c"}, {"...", s + "/..."},
        {"a..b", s + "/a..b"},                {"/.hidden", s + "/.hidden"}, {"x/.../..y", s + "/x/.../..y"},
    };
    for (const auto& [stb, expected] : cases) {
        SCOPED_TRACE(stb);
        std::string local;
        EXPECT_EQ(Map(stb, local), 0);
        EXPECT_EQ(local, expected);
    }
}

TEST_F(PathTest, LeadingBackslashIsRewrittenInTheRequest)
{
    std::string local, buf;
    ASSERT_EQ(Map("\\dir\\f", local, &buf), 0);
    EXPECT_EQ(buf, "/dir\\f");
    ASSERT_EQ(Map("/dir/f", local, &buf), 0);
    EXPECT_EQ(buf, "/dir/f");
}

TEST_F(PathTest, ParentComponentsAreRefused)
{
    for (const char* psz : {"..", "/..", "/../x", "a/..", "..\\x", "a\\..\\b", "a/../b", "\\..", "a/..\\b", "x/../"}) {
        SCOPED_TRACE(psz);
        std::string local;
        EXPECT_EQ(Map(psz, local), -1);
        EXPECT_EQ(local, "");
    }
}

TEST_F(PathTest, RootSharedFolderDoublesTheSeparator)
{
    ASSERT_EQ(StoreSharedFolder("/"), 0);
    std::string local;
    EXPECT_EQ(Map("/x", local), 0);
    EXPECT_EQ(local, "//x");
}

TEST_F(PathTest, NothingStoredRefusesEveryPath)
{
#ifdef _WIN32
    GTEST_SKIP() << "reads the settings file; Windows keeps the settings in the registry";
#endif
    for (bool bRemoveFile : {false, true}) {
        SCOPED_TRACE(bRemoveFile ? "no settings file" : "empty value");
        if (bRemoveFile)
            ASSERT_EQ(std::remove(IniPath().c_str()), 0);
        else
            ASSERT_EQ(StoreSharedFolder(""), 0);
        for (const char* psz : {"/x", "x", "", "\\x"}) {
            std::string local;
            EXPECT_EQ(Map(psz, local), -1) << psz;
            EXPECT_EQ(local, "");
        }
        EXPECT_FALSE(HasFreeSpace(plat::CShare{GetSharedFolder()}, 0));
    }
}

TEST_F(PathTest, SharedFolderIsReadAfreshOnEveryCall)
{
#ifdef _WIN32
    GTEST_SKIP() << "reads the settings file; Windows keeps the settings in the registry";
#endif
    std::string local;
    ASSERT_EQ(StoreSharedFolder("/srv/one"), 0);
    ASSERT_EQ(Map("x", local), 0);
    EXPECT_EQ(local, "/srv/one/x");
    // Changed behind the process's back, as another copy or the user's editor would.
    WriteLocalFile(IniPath(), "[Config]\nPath=/srv/two\n");
    EXPECT_EQ(GetSharedFolder(), "/srv/two");
    ASSERT_EQ(Map("x", local), 0);
    EXPECT_EQ(local, "/srv/two/x");
}

TEST_F(PathTest, StoringKeepsEverythingElseInTheSettingsFile)
{
#ifdef _WIN32
    GTEST_SKIP() << "reads the settings file; Windows keeps the settings in the registry";
#endif
    WriteLocalFile(IniPath(), "; kept comment\n[Other]\nKey=1\n\n[Config]\nPath=/old\nExtra=2\n");
    ASSERT_EQ(StoreSharedFolder("/new place"), 0);
    EXPECT_EQ(GetSharedFolder(), "/new place");
    EXPECT_EQ(IniValue(IniPath(), "Config", "Path"), "/new place");
    EXPECT_EQ(IniValue(IniPath(), "Config", "Extra"), "2");
    EXPECT_EQ(IniValue(IniPath(), "Other", "Key"), "1");
    EXPECT_NE(ReadLocalFile(IniPath()).find("; kept comment"), std::string::npos);
    // Written through a temporary file: nothing but the settings file stays behind.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(m_Share.Root() + "/cfg/Corvane"))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"corvane_tests.ini"});
}

TEST_F(PathTest, BaseDirAndRelativePaths)
{
    const std::string s = m_Share.Share();
    struct Case {
        std::string dir, base, path, relative;
    };
    const Case cases[] = {
        {s + "/movies/2012", s + "/movies/", s + "/movies/2012/a.ts", "2012/a.ts"},
        {s + "/movies/2012", s + "/movies/", s + "/movies/", ""},
        {"name", "", "name/x", "name/x"},
        {"/", "/", "/a", "a"},
    };
    auto pSess = std::make_unique<CSess>(plat::INVALID_SOCKET);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir + " " + c.path);
        SetBaseDir(*pSess, c.dir);
        EXPECT_EQ(GetBaseDir(*pSess), c.base);
        EXPECT_EQ(GetRelativePath(*pSess, c.path), c.relative);
    }
}

TEST_F(PathTest, HasFreeSpaceIsStrict)
{
    const plat::CShare share{m_Share.Share()};
    EXPECT_TRUE(HasFreeSpace(share, 0));
    EXPECT_FALSE(HasFreeSpace(share, std::numeric_limits<uint64_t>::max()));
    // Other tests write to the same disk: repeat until the free bytes held still across
    // the calls.
    bool bStable = false;
    for (int i = 0; i < 50 && !bStable; ++i) {
        plat::VolumeSpace before, after;
        ASSERT_EQ(plat::GetVolumeSpace(m_Share.Share(), before), 0);
        bool bEqual = HasFreeSpace(share, before.ullFreeBytes);
        bool bBelow = HasFreeSpace(share, before.ullFreeBytes - 1);
        bool bAbove = HasFreeSpace(share, before.ullFreeBytes + 1);
        ASSERT_EQ(plat::GetVolumeSpace(m_Share.Share(), after), 0);
        if (before.ullFreeBytes != after.ullFreeBytes)
            continue;
        bStable = true;
        EXPECT_FALSE(bEqual) << "a count equal to the free bytes does not fit";
        EXPECT_TRUE(bBelow);
        EXPECT_FALSE(bAbove);
    }
    EXPECT_TRUE(bStable) << "the free space never held still";
}

TEST_F(PathTest, IsDirectoryPath)
{
#ifdef _WIN32
    GTEST_SKIP() << "makes symbolic links, which need a privilege on Windows (and which Wine cannot make)";
#endif
    m_Share.WriteFile("dir/file", "x");
    std::filesystem::create_directory_symlink("dir", m_Share.Path("dirlink"));
    std::filesystem::create_symlink("dir/file", m_Share.Path("filelink"));
    // A link with an absolute target leads nowhere, even when the target is inside.
    std::filesystem::create_directory_symlink(m_Share.Path("dir"), m_Share.Path("abslink"));
    const std::pair<const char*, bool> cases[] = {
        {"dir", true},       {"dirlink", true},   {"dir/file", false}, {"filelink", false},
        {"missing", false},  {"", true},          {"abslink", false},
    };
    const plat::CShare share{m_Share.Share()};
    for (const auto& [rel, bDir] : cases)
        EXPECT_EQ(IsDirectoryPath(share, m_Share.Path(rel)), bDir) << rel;
}
