// Walks that change a tree while a local user changes it under them: a folder of the tree
// swapped for a link that leads out of the shared folder at a known point of the walk
// (the platform's walk hook, no timing race), with wide links on. Nothing the link leads
// to may be deleted or read into the share.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "platform/tree.h"
#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;
using TreeMap = std::map<std::string, std::string>;

constexpr uint8_t kRmdir = 0x0A, kCopy = 0x0B, kMove = 0x0C, kDirDn = 0x13, kAfterMove = 0x19;

// Swaps the folder for a link to the victim folder, keeping the folder under another name.
void SwapForLink(const std::string& strFolder, const std::string& strVictim)
{
    std::error_code ec;
    fs::rename(LocalFsPath(strFolder), LocalFsPath(strFolder + ".old"), ec);
    EXPECT_FALSE(ec) << "rename " << strFolder << ": " << ec.message();
    fs::create_directory_symlink(LocalFsPath(strVictim), LocalFsPath(strFolder), ec);
    EXPECT_FALSE(ec) << "link " << strFolder << ": " << ec.message();
}

// What the hook swaps, and when: the hook has no argument for it.
struct CSwapPlan {
    plat::TreeWalk eWalk = plat::TreeWalk::Delete;
    int nDepth = 0;
    std::string strFolder, strVictim;
    bool bDone = false;
};
CSwapPlan g_Swap;

void SwapHook(plat::TreeWalk eWalk, int nDepth)
{
    if (g_Swap.bDone || eWalk != g_Swap.eWalk || nDepth != g_Swap.nDepth)
        return;
    g_Swap.bDone = true;
    SwapForLink(g_Swap.strFolder, g_Swap.strVictim);
}

class TreeWalks : public ::testing::Test {
protected:
    CTempShare share;
    std::string victim = share.Root() + "/victim";
    CTestServer server{[](CSessMan&, CDaemonOptions& options) { options.bWideLinks = true; }};

    void SetUp() override
    {
        // The victim looks like the folder it stands in for, so that every name the walk
        // read would lead into it.
        fs::create_directories(LocalFsPath(victim + "/T"));
        WriteLocalFile(victim + "/g.txt", "victim");
        WriteLocalFile(victim + "/T/f.txt", "victim");
        share.WriteFile("drop/D/a.txt", "inside");
        share.WriteFile("drop/D/S/g.txt", "inside");
        share.WriteFile("drop/D/S/T/f.txt", "inside");
        std::error_code ec;
        fs::create_directory_symlink(LocalFsPath(victim), LocalFsPath(share.Path("probe")), ec);
        if (ec)
            GTEST_SKIP() << "makes symbolic links, which need a privilege on Windows (and which Wine cannot make): "
                         << ec.message();
        fs::remove(LocalFsPath(share.Path("probe")));
    }

    void TearDown() override { plat::SetTreeWalkHook(nullptr); }

    // Arms the hook: S is swapped when the walk has read the names of the folder at nDepth.
    void SwapDuring(plat::TreeWalk eWalk, int nDepth)
    {
        g_Swap = CSwapPlan{eWalk, nDepth, share.Path("drop/D/S"), victim, false};
        plat::SetTreeWalkHook(SwapHook);
        m_bArmed = true;
    }

    bool m_bArmed = false;  // the hook was set for the case that runs
};

// A copy or move run to its end on a session of its own: the status it ends with.
int RunOperation(uint16_t port, uint8_t req, const std::string& src, const std::string& dst)
{
    CStbSession stb(port);
    const std::string payload = std::string(1, '\x01') + src + '\0' + dst + '\0';
    const uint8_t reply = static_cast<uint8_t>(req ^ 0xF0);
    int status = stb.Status(req, payload, reply);
    EXPECT_TRUE(WaitFor([&] { return status != 2 || (status = stb.Status(req, payload, reply)) != 2; }, 10000));
    return status;
}

TEST_F(TreeWalks, FolderSwappedForALinkMidWalkLeadsNowhere)
{
    struct Case {
        const char* pszWhat;
        std::function<void()> fnRun;
    };
    const uint16_t port = server.Port();
    const Case cases[] = {
        {"FC_RMDIR_REQ, S swapped before it is entered",
         [&] {
             SwapDuring(plat::TreeWalk::Delete, 0);
             CStbSession stb(port);
             EXPECT_EQ(stb.Status(kRmdir, PathPayload("/drop/D"), 0xFA), 0);
         }},
        {"FC_RMDIR_REQ, S swapped once its names are read",
         [&] {
             SwapDuring(plat::TreeWalk::Delete, 1);
             CStbSession stb(port);
             EXPECT_EQ(stb.Status(kRmdir, PathPayload("/drop/D"), 0xFA), 0);
         }},
        {"FC_FILE_CPY_REQ, S swapped once its names are read",
         [&] {
             SwapDuring(plat::TreeWalk::Copy, 1);
             RunOperation(port, kCopy, "/drop/D", "/drop/C");
         }},
        {"FC_FILE_MOV_REQ onto a folder that holds D (a copy, then a removal), S swapped in the removal",
         [&] {
             share.WriteFile("drop/E/D/old.txt", "earlier");
             SwapDuring(plat::TreeWalk::Remove, 1);
             RunOperation(port, kMove, "/drop/D", "/drop/E");
         }},
        {"RS_AFTER_MOVE_REQ, S swapped between the list and the move",
         [&] {
             CStbSession stb(port);
             ASSERT_EQ(GetU32(stb.Ask(kDirDn, PathPayload("/drop/D"), 0xE3), 1), 6u);
             SwapForLink(share.Path("drop/D/S"), victim);
             stb.Ask(kAfterMove, LE(6, 4), 0xE9);
         }},
    };
    const auto victimBefore = Tree(victim);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        fs::remove_all(LocalFsPath(share.Path("drop")));
        SetUp();
        m_bArmed = false;
        c.fnRun();
        plat::SetTreeWalkHook(nullptr);
        if (m_bArmed) {
            EXPECT_TRUE(g_Swap.bDone) << "the walk never came to the point where S is swapped";
        }
        EXPECT_EQ(Tree(victim), victimBefore);
        for (const auto& [rel, content] : Tree(share.Share()))
            EXPECT_NE(content, "victim") << rel << " was read from outside the shared folder";
    }
}

#ifdef __linux__
// A chain of nLevels folders "d" below top, with a file at the bottom.
void MakeChain(const std::string& strTop, int nLevels)
{
    std::string strPath = strTop;
    for (int i = 0; i < nLevels; ++i)
        strPath += "/d";
    std::error_code ec;
    fs::create_directories(LocalFsPath(strPath), ec);
    ASSERT_FALSE(ec) << ec.message();
    WriteLocalFile(strPath + "/f.txt", "bottom");
}

// The paths of the folders and files this process holds open below strRoot (the walk's).
std::vector<std::string> OpenBelow(const std::string& strRoot)
{
    std::vector<std::string> paths;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code ecLink;
        const std::string strTarget = fs::read_symlink(e.path(), ecLink).string();
        if (!ecLink && strTarget.rfind(strRoot + "/", 0) == 0)
            paths.push_back(strTarget);
    }
    return paths;
}

// What the walks hold open, seen from the hook.
struct CDeepWatch {
    std::string strRoot;
    int nMaxDepth = 0;
    size_t nMaxOpen = 0;
};
CDeepWatch g_Deep;

void WatchHook(plat::TreeWalk, int nDepth)
{
    g_Deep.nMaxDepth = std::max(g_Deep.nMaxDepth, nDepth);
    if (nDepth % 10 == 0)  // a look at every folder would be slow
        g_Deep.nMaxOpen = std::max(g_Deep.nMaxOpen, OpenBelow(g_Deep.strRoot).size());
}
#endif

// A tree far deeper than the descriptors a walk keeps open is walked whole, down and back
// up, by a deletion, a copy and a move's removal, with few descriptors held at any time.
TEST_F(TreeWalks, DeepTreeIsWalkedWithFewDescriptors)
{
#ifndef __linux__
    GTEST_SKIP() << "counts the walk's descriptors in /proc/self/fd";
#else
    constexpr int kLevels = 100;
    struct Case {
        const char* pszWhat;
        std::function<void()> fnRun;
        std::function<void()> fnCheck;
    };
    const uint16_t port = server.Port();
    TreeMap copied;
    const Case cases[] = {
        {"FC_RMDIR_REQ",
         [&] {
             CStbSession stb(port);
             EXPECT_EQ(stb.Status(kRmdir, PathPayload("/deep/top"), 0xFA), 0);
         },
         [&] { EXPECT_FALSE(Exists(share.Path("deep/top"))); }},
        {"FC_FILE_CPY_REQ", [&] { EXPECT_EQ(RunOperation(port, kCopy, "/deep/top", "/deep/copy"), 0); },
         [&] { EXPECT_EQ(Tree(share.Path("deep/copy")), Tree(share.Path("deep/top"))); }},
        {"FC_FILE_MOV_REQ onto a folder that holds top (a copy, then a removal)",
         [&] {
             share.WriteFile("deep/dest/top/old.txt", "earlier");
             copied = Tree(share.Path("deep/top"));
             copied["old.txt"] = "earlier";
             EXPECT_EQ(RunOperation(port, kMove, "/deep/top", "/deep/dest"), 0);
         },
         [&] {
             EXPECT_FALSE(Exists(share.Path("deep/top")));
             EXPECT_EQ(Tree(share.Path("deep/dest/top")), copied);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        fs::remove_all(LocalFsPath(share.Path("deep")));
        ASSERT_NO_FATAL_FAILURE(MakeChain(share.Path("deep/top"), kLevels));
        share.WriteFile("deep/top/side.txt", "side");
        g_Deep = CDeepWatch{share.Share(), 0, 0};
        plat::SetTreeWalkHook(WatchHook);
        c.fnRun();
        plat::SetTreeWalkHook(nullptr);
        c.fnCheck();
        EXPECT_EQ(g_Deep.nMaxDepth, kLevels);
        EXPECT_GT(g_Deep.nMaxOpen, 0u);
        EXPECT_LE(g_Deep.nMaxOpen, 60u) << "descriptors held at once";
    }
#endif
}

#ifdef __linux__
// Moves the top folder (below parent) that the walk is in to strTo; true when it found it.
bool MoveWalkedTop(const std::string& strParent, const std::string& strTo)
{
    for (const std::string& strOpen : OpenBelow(strParent)) {
        const std::string strTop = strOpen.substr(0, strOpen.find('/', strParent.size() + 1));
        std::error_code ec;
        fs::rename(strTop, strTo, ec);
        return !ec;
    }
    return false;
}

struct CMovePlan {
    std::string strParent, strTo;
    int nDepth = 0;
    bool bMoved = false;
};
CMovePlan g_Move;

void MoveHook(plat::TreeWalk eWalk, int nDepth)
{
    if (eWalk == plat::TreeWalk::Delete && nDepth == g_Move.nDepth && !g_Move.bMoved)
        g_Move.bMoved = MoveWalkedTop(g_Move.strParent, g_Move.strTo);
}
#endif

// A folder whose descriptor the walk had let go is opened again on the way back up, and
// must be the folder the walk came down through: when a local user has moved the tree
// away meanwhile, the walk stops instead of going on in the folder it was moved to.
TEST_F(TreeWalks, TreeMovedAwayMidWalkStopsTheWalk)
{
#ifndef __linux__
    GTEST_SKIP() << "finds the folder the walk is in through /proc/self/fd";
#else
    constexpr int kLevels = 40;
    // Two deep subfolders: whichever the walk takes first, the other is still to come.
    ASSERT_NO_FATAL_FAILURE(MakeChain(share.Path("deep/D/S"), kLevels));
    ASSERT_NO_FATAL_FAILURE(MakeChain(share.Path("deep/D/T"), kLevels));
    for (const char* pszName : {"/S", "/T"}) {
        fs::create_directories(LocalFsPath(victim + pszName));
        WriteLocalFile(victim + pszName + "/v.txt", "victim");
    }
    // Deep in S or T, the one the walk is in goes into the victim folder, beside folders
    // named as the one still to come.
    g_Move = CMovePlan{share.Path("deep/D"), victim + "/moved", kLevels, false};
    plat::SetTreeWalkHook(MoveHook);
    CStbSession stb(server.Port());
    EXPECT_EQ(stb.Status(kRmdir, PathPayload("/deep/D"), 0xFA), 0);
    plat::SetTreeWalkHook(nullptr);
    ASSERT_TRUE(g_Move.bMoved);
    EXPECT_EQ(ReadLocalFile(victim + "/S/v.txt"), "victim");
    EXPECT_EQ(ReadLocalFile(victim + "/T/v.txt"), "victim");
    EXPECT_TRUE(Exists(share.Path("deep/D"))) << "the walk went on";
#endif
}

}  // namespace
