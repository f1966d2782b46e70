// What the status shows of a transfer while it runs and after it: its kind, its path within
// the shared folder and how far it has come, read from the snapshot the accept thread
// publishes, as the page, the dialog and the service manager's line read it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "net/protocol.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

// Waits until the status the accept thread last published satisfies pred. The thread
// publishes at every wake, at least once a second; a connection made and dropped wakes it
// at once.
bool WaitPublished(CTestServer& server, const std::function<bool(const CStatusSnapshot&)>& pred)
{
    { CTestClient poke(server.Port()); }
    return WaitFor([&] { return pred(server.Man().m_Status.Snapshot()); });
}

// The STB shown doing eKind on the path; null when none is.
const CStbStatus* Doing(const CStatusSnapshot& snap, StbActivity eKind, const std::string& strPath)
{
    for (const CStbStatus& stb : snap.stbs) {
        if (stb.activity.eActivity == eKind && stb.activity.strPath == strPath)
            return &stb;
    }
    return nullptr;
}

bool AllIdle(const CStatusSnapshot& snap)
{
    return std::all_of(snap.stbs.begin(), snap.stbs.end(),
                       [](const CStbStatus& stb) { return stb.activity.eActivity == StbActivity::Idle; });
}

std::string Describe(const CStatusSnapshot& snap)
{
    std::string str;
    for (const CStbStatus& stb : snap.stbs)
        str += std::string(ActivityName(stb.activity.eActivity)) + " '" + stb.activity.strPath + "' " +
               std::to_string(stb.activity.ullDone) + "/" + std::to_string(stb.activity.ullTotal) + "\n";
    return str;
}

constexpr uint8_t kFileEntry = 0x46;  // RS_FILE_UP_REQ's type of a file
constexpr uint64_t kNotShown = ~0ULL;

// Each kind of transfer is shown while it runs, with its progress where the protocol
// announced a total, and is gone from what the STBs are doing once it has ended, its end
// recorded among the events.
TEST(StatusModel, EachTransferShowsItsKindPathAndProgressWhileItRunsAndLeavesWhenItEnds)
{
    CTempShare share;
    CTestServer server;
    share.WriteFile("movies/rec.ts", std::string(100000, 'r'));
    // A copy runs on in a worker of its own: this one lasts a good while (a kernel copy
    // of 128 MiB) so that the status can be seen while it runs.
    MakeSparse(share.Path("big.ts"), 128u << 20, {});
    struct Case {
        const char* pszName;
        StbActivity eKind;
        const char* pszPath;
        uint64_t ullDone, ullTotal;  // while it runs; kNotShown: not awaited (a copy's moves on)
        std::function<void(CStbSession&)> begin, finish;
    };
    const Case cases[] = {
        {"download", StbActivity::Downloading, "/movies/rec.ts", 40000, 100000,
         [](CStbSession& stb) {
             ASSERT_EQ(stb.Ask(FC_FILE_DN_REQ, PathPayload("/movies/rec.ts", '\x05'), FC_FILE_DN_REP)[0], 0);
             ASSERT_EQ(stb.Fetch(FC_DATA_REQ_LARGE, 0, 40000, 40000).size(), 40000u);
         },
         [](CStbSession& stb) { ASSERT_EQ(stb.Fetch(FC_DATA_REQ_LARGE, 40000, 60000, 60000).size(), 60000u); }},
        {"upload", StbActivity::Uploading, "/up.ts", 43000, 100000,
         [](CStbSession& stb) {
             ASSERT_EQ(stb.UploadOpen(FC_FILE_UP_REQ, 100000, "/up.ts"), 0);
             ASSERT_EQ(stb.UploadBlock(FC_DATA_UP_REQ, 0, std::string(43000, 'u')), 43000u);
         },
         [](CStbSession& stb) { ASSERT_EQ(stb.UploadBlock(FC_DATA_UP_REQ, 43000, std::string(57000, 'u')), 57000u); }},
        {"directory upload", StbActivity::DirUpload, "/updir", 1000, 3000,
         [](CStbSession& stb) {
             ASSERT_EQ(stb.BeginDirUp("/updir", 3000), 0);
             ASSERT_EQ(stb.DirUpEntry(kFileEntry, 3000, "a.ts"), std::make_pair(0, 3000u));
             ASSERT_EQ(stb.DirUpBlock(0, std::string(1000, 'd')), 1000u);
         },
         [](CStbSession& stb) { ASSERT_EQ(stb.DirUpBlock(1000, std::string(2000, 'd')), 2000u); }},
        {"copy", StbActivity::Copying, "/big.ts", kNotShown, 128u << 20,
         [](CStbSession& stb) {
             ASSERT_EQ(stb.Status(FC_FILE_CPY_REQ, std::string("\x07/big.ts\0/copy.ts\0", 18), FC_FILE_CPY_REP), 2);
         },
         [](CStbSession& stb) {
             int nStatus = 2;
             ASSERT_TRUE(WaitFor(
                 [&] {
                     return (nStatus = stb.Status(FC_FILE_CPY_REQ, std::string("\x07/big.ts\0/copy.ts\0", 18),
                                                  FC_FILE_CPY_REP)) != 2;
                 },
                 30000));
             ASSERT_EQ(nStatus, 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        // Over the listener: the accept thread publishes the sessions it serves.
        CStbSession stb(server.ListenPort());
        c.begin(stb);
        if (testing::Test::HasFatalFailure())
            return;
        const bool bShown = WaitPublished(server, [&](const CStatusSnapshot& snap) {
            const CStbStatus* p = Doing(snap, c.eKind, c.pszPath);
            return p != nullptr && (c.ullDone == kNotShown || p->activity.ullDone == c.ullDone) &&
                   (c.ullTotal == kNotShown || p->activity.ullTotal == c.ullTotal);
        });
        ASSERT_TRUE(bShown) << Describe(server.Man().m_Status.Snapshot());
        c.finish(stb);
        EXPECT_TRUE(WaitPublished(server, AllIdle)) << Describe(server.Man().m_Status.Snapshot());
        const CStatusSnapshot after = server.Man().m_Status.Snapshot();
        const std::string strEnd = std::string(ActivityName(c.eKind)) + " " + c.pszPath;
        EXPECT_TRUE(std::any_of(after.events.begin(), after.events.end(), [&](const CStatusEvent& e) {
            return e.eKind == StatusEventKind::Finished && e.strText == strEnd;
        })) << "no event: finished " << strEnd;
    }
}

}  // namespace
