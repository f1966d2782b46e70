// Who may connect and how many sessions a host may hold: the allowed list, the session
// caps, and the network options as the settings file and the command line give them.
// Clients reach the in-process listener from other loopback addresses (127.0.0.2 ...)
// as other hosts would.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/corvaneapp.h"
#include "app/settings.h"
#include "net/allowlist.h"
#include "platform/profile.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

constexpr uint32_t Addr(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return a << 24 | b << 16 | c << 8 | d; }

}  // namespace

// Each entry takes exactly its prefix; the list's text (what the streaming server is
// given) names the same addresses.
TEST(AllowList, EntriesMatchExactlyTheirPrefix)
{
    struct Case {
        const char* pszList;
        std::vector<uint32_t> allowed, refused;
        const char* pszText;  // CAllowList::Text
    };
    const Case cases[] = {
        {"192.168.1.7",
         {Addr(192, 168, 1, 7)},
         {Addr(192, 168, 1, 6), Addr(192, 168, 1, 8), Addr(7, 1, 168, 192)},
         "192.168.1.7/32"},
        {"172.16.0.0/12",
         {Addr(172, 16, 0, 0), Addr(172, 31, 255, 255)},
         {Addr(172, 15, 255, 255), Addr(172, 32, 0, 0)},
         "172.16.0.0/12"},
        // Bits below the prefix do not matter; blanks around entries are allowed.
        {" 10.1.2.3/8 , 127.0.0.1 ", {Addr(10, 0, 0, 0), Addr(10, 255, 255, 255), Addr(127, 0, 0, 1)},
         {Addr(11, 0, 0, 0), Addr(127, 0, 0, 2)}, "10.0.0.0/8,127.0.0.1/32"},
        {"0.0.0.0/0", {Addr(0, 0, 0, 0), Addr(255, 255, 255, 255)}, {}, "all"},
        {"all", {Addr(8, 8, 8, 8), Addr(255, 255, 255, 255)}, {}, "all"},
        {"10.0.0.1,all", {Addr(8, 8, 8, 8)}, {}, "all"},
        {"255.255.255.255/32", {Addr(255, 255, 255, 255)}, {Addr(255, 255, 255, 254)}, "255.255.255.255/32"},
        {g_pszDefaultAllow,
         {Addr(127, 0, 0, 1), Addr(10, 9, 8, 7), Addr(172, 20, 0, 1), Addr(192, 168, 0, 1), Addr(169, 254, 1, 1),
          Addr(100, 127, 255, 255)},
         {Addr(8, 8, 8, 8), Addr(172, 32, 0, 1), Addr(192, 169, 0, 1), Addr(100, 128, 0, 0), Addr(1, 1, 1, 1)},
         g_pszDefaultAllow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszList);
        CAllowList list;
        ASSERT_EQ(list.Parse(c.pszList), 0);
        for (uint32_t a : c.allowed)
            EXPECT_TRUE(list.Allows(a)) << std::hex << a;
        for (uint32_t a : c.refused)
            EXPECT_FALSE(list.Allows(a)) << std::hex << a;
        EXPECT_EQ(list.Text(), c.pszText);
        CAllowList again;
        ASSERT_EQ(again.Parse(list.Text().c_str()), 0);
        EXPECT_EQ(again.Text(), list.Text());
    }
    EXPECT_TRUE(CAllowList().Allows(Addr(192, 168, 178, 20))) << "a new list is not the default one";
    EXPECT_FALSE(CAllowList().Allows(Addr(8, 8, 8, 8))) << "a new list is not the default one";
}

TEST(AllowList, MalformedListIsRefusedWholeAndChangesNothing)
{
    std::string strTooMany;
    for (int i = 0; i <= kMaxAllowRanges; ++i)
        strTooMany += (i ? ",10.0.0." : "10.0.0.") + std::to_string(i);
    const std::vector<std::string> lists{
        "",           " ",         "10.0.0.1,",   ",10.0.0.1",        "10.0.0.1,,8.8.8.8", "10.0.0",
        "10.0.0.1.2", "10.0.0.256", "010.0.0.1",  "10.0.0.-1",        "10.0.0.1/33",       "10.0.0.1/",
        "10.0.0.1/08", "ALL",      "all8",        "10.0.0.1 8.8.8.8", "localhost",         "::1",
        strTooMany,
    };
    for (const std::string& strList : lists) {
        SCOPED_TRACE(strList);
        CAllowList list;
        ASSERT_EQ(list.Parse("8.8.8.8"), 0);
        EXPECT_EQ(list.Parse(strList.c_str()), -1);
        EXPECT_TRUE(list.Allows(Addr(8, 8, 8, 8))) << "a refused list replaced the one in force";
        EXPECT_FALSE(list.Allows(Addr(10, 0, 0, 1))) << "a refused list replaced the one in force";
    }
}

// A peer that may not connect is closed in the accept thread: no session is made for it.
TEST(SessMan, PeerOutsideTheAllowedListIsClosedWithoutASession)
{
    for (const char* pszAllow : {"127.0.0.1", "all"}) {
        SCOPED_TRACE(pszAllow);
        const bool bRefused = std::string(pszAllow) != "all";
        CTestServer server([&](CSessMan& man) {
            ASSERT_EQ(man.m_Allow.Parse(pszAllow), 0);
            man.m_nWaitTimeoutMs = 60000;  // only the refusal can close it soon
        });
        CStbSession other(server.Port(), "127.0.0.2");
        ASSERT_TRUE(other.Connected());
        if (bRefused) {
            EXPECT_TRUE(other.WaitClosed());
            ASSERT_TRUE(server.WaitIdle(0));
            EXPECT_EQ(server.Man().m_nAccepted.load(), 0u);
            EXPECT_EQ(server.SessionCount(), 0);
        } else {
            EXPECT_TRUE(other.Version());
        }
        CStbSession local(server.ListenPort());
        EXPECT_TRUE(local.Version()) << "an allowed peer was not served";
    }
}

// Past either cap a connection is closed at once and makes no session; the hosts below
// their caps go on, and a session that has ended no longer counts.
TEST(SessMan, ConnectionPastASessionCapIsClosedAtOnce)
{
    struct Case {
        const char* pszCap;
        int nTotal, nPerHost;
        std::vector<const char*> served;  // one session from each, in this order
        const char* pszExtra;             // the connection past the cap
        const char* pszOther;             // a host that is still served
    };
    const Case cases[] = {
        {"per host", 100, 2, {"127.0.0.1", "127.0.0.1"}, "127.0.0.1", "127.0.0.2"},
        {"total", 2, 100, {"127.0.0.1", "127.0.0.2"}, "127.0.0.3", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszCap);
        CTestServer server([&](CSessMan& man) {
            man.m_nMaxSessions = c.nTotal;
            man.m_nMaxSessionsPerHost = c.nPerHost;
            man.m_nWaitTimeoutMs = 60000;
        });
        std::vector<std::unique_ptr<CStbSession>> clients;
        for (const char* pszFrom : c.served) {
            clients.push_back(std::make_unique<CStbSession>(server.Port(), pszFrom));
            ASSERT_TRUE(clients.back()->Version());
        }
        const unsigned nSessions = static_cast<unsigned>(c.served.size());
        CStbSession extra(server.Port(), c.pszExtra);
        EXPECT_TRUE(extra.WaitClosed(3000)) << "the connection past the cap was served";
        ASSERT_TRUE(server.WaitIdle(nSessions));
        EXPECT_EQ(server.Man().m_nAccepted.load(), nSessions) << "a session was made past the cap";
        EXPECT_EQ(server.SessionCount(), static_cast<int>(nSessions));
        if (c.pszOther != nullptr) {
            CStbSession other(server.Port(), c.pszOther);
            EXPECT_TRUE(other.Version()) << "another host was held to this host's cap";
        }
        // The first session ends; its place is free again once its thread is done.
        clients.front().reset();
        EXPECT_TRUE(WaitFor([&] {
            CStbSession again(server.Port(), c.pszExtra);
            return again.Version();
        })) << "an ended session still counted";
        for (size_t i = 1; i < clients.size(); ++i)
            EXPECT_TRUE(clients[i]->Version());
    }
}

// With the default caps a few hosts that each hold every session they may (four
// addresses, as a local user or a handful of machines have) still leave room: a host
// that asks next is served.
TEST(SessMan, FewHostsAtTheirCapLeaveRoomForAnother)
{
    constexpr int kHosts = 4;
    CTestServer server([](CSessMan& man) {
        man.m_nMaxSessions = kMaxSessions;
        man.m_nMaxSessionsPerHost = kMaxSessionsPerHost;
        man.m_nWaitTimeoutMs = 60000;
    });
    std::vector<std::unique_ptr<CStbSession>> held;
    for (int h = 1; h <= kHosts; ++h) {
        const std::string strHost = "127.0.1." + std::to_string(h);
        for (int i = 0; i < kMaxSessionsPerHost; ++i) {
            held.push_back(std::make_unique<CStbSession>(server.Port(), strHost.c_str()));
            ASSERT_TRUE(held.back()->Version()) << strHost << ", session " << i + 1;
        }
        CStbSession extra(server.Port(), strHost.c_str());
        EXPECT_TRUE(extra.WaitClosed(3000)) << strHost << " was served past its cap";
    }
    CStbSession fresh(server.Port(), "127.0.2.1");
    EXPECT_TRUE(fresh.Version()) << "hosts at their cap keep every other host out";
}

TEST(SessMan, NewSessionTakesTheManagersOptionsAndItsPeer)
{
    for (bool bOn : {true, false}) {
        SCOPED_TRACE(bOn);
        CTestServer server([&](CSessMan& man) {
            man.m_bReadOnly = bOn;
            man.m_bWideLinks = !bOn;
            man.m_nSendTimeoutMs = bOn ? 1234 : 4321;
        });
        CStbSession client(server.Port(), bOn ? "127.0.0.2" : "127.0.0.1");
        ASSERT_TRUE(client.Version());
        ASSERT_TRUE(server.WaitIdle(1));
        const CSess* pSess = server.Man().m_pHead;
        ASSERT_NE(pSess, nullptr);
        EXPECT_EQ(pSess->m_bReadOnly, bOn);
        EXPECT_EQ(pSess->m_bWideLinks, !bOn);
        EXPECT_EQ(pSess->m_nSendTimeoutMs, bOn ? 1234 : 4321);
        EXPECT_EQ(pSess->m_ulPeerAddr, bOn ? Addr(127, 0, 0, 2) : Addr(127, 0, 0, 1));
    }
}

// Each network option comes from the command line, else the settings file, else its
// default; a stored value that is not of its form is an error naming the key.
TEST(NetOptions, SettingsFileAppliesAndTheCommandLineWins)
{
    struct Case {
        const char* pszKey;
        const char* pszStored;          // null: key not stored
        std::vector<const char*> args;  // after the program name
        int nResult;
        std::function<void(const CSessMan&)> check;
    };
    const Case cases[] = {
        {nullptr, nullptr, {}, 0,
         [](const CSessMan& m) {
             EXPECT_EQ(m.m_strListen, "");
             EXPECT_TRUE(m.m_Allow.Allows(Addr(192, 168, 1, 2)));
             EXPECT_FALSE(m.m_Allow.Allows(Addr(8, 8, 8, 8)));
             EXPECT_EQ(m.m_nMaxSessions, 256);
             EXPECT_EQ(m.m_nMaxSessionsPerHost, 8);
             EXPECT_FALSE(m.m_bReadOnly);
             EXPECT_FALSE(m.m_bWideLinks);
         }},
        {"Listen", "127.0.0.2", {}, 0, [](const CSessMan& m) { EXPECT_EQ(m.m_strListen, "127.0.0.2"); }},
        {"Listen", "127.0.0.2", {"--listen", "127.0.0.1"}, 0,
         [](const CSessMan& m) { EXPECT_EQ(m.m_strListen, "127.0.0.1"); }},
        {"Allow", "8.8.8.0/24", {}, 0,
         [](const CSessMan& m) {
             EXPECT_TRUE(m.m_Allow.Allows(Addr(8, 8, 8, 1)));
             EXPECT_FALSE(m.m_Allow.Allows(Addr(127, 0, 0, 1)));
         }},
        {"Allow", "8.8.8.0/24", {"--allow", "127.0.0.1"}, 0,
         [](const CSessMan& m) {
             EXPECT_FALSE(m.m_Allow.Allows(Addr(8, 8, 8, 1)));
             EXPECT_TRUE(m.m_Allow.Allows(Addr(127, 0, 0, 1)));
         }},
        {"MaxSessions", " 5 ", {}, 0, [](const CSessMan& m) { EXPECT_EQ(m.m_nMaxSessions, 5); }},
        {"MaxSessions", "5", {"--max-sessions", "7"}, 0, [](const CSessMan& m) { EXPECT_EQ(m.m_nMaxSessions, 7); }},
        {"MaxSessionsPerHost", "3", {}, 0, [](const CSessMan& m) { EXPECT_EQ(m.m_nMaxSessionsPerHost, 3); }},
        {"MaxSessionsPerHost", "3", {"--max-sessions-per-host", "4"}, 0,
         [](const CSessMan& m) { EXPECT_EQ(m.m_nMaxSessionsPerHost, 4); }},
        {"ReadOnly", "1", {}, 0, [](const CSessMan& m) { EXPECT_TRUE(m.m_bReadOnly); }},
        {"ReadOnly", "0", {"--read-only"}, 0, [](const CSessMan& m) { EXPECT_TRUE(m.m_bReadOnly); }},
        {"WideLinks", "1", {}, 0, [](const CSessMan& m) { EXPECT_TRUE(m.m_bWideLinks); }},
        {"WideLinks", "0", {}, 0, [](const CSessMan& m) { EXPECT_FALSE(m.m_bWideLinks); }},
        {"Listen", "127.0.0", {}, -1, nullptr},
        {"Allow", "10.0.0.0/33", {}, -1, nullptr},
        {"MaxSessions", "0", {}, -1, nullptr},
        {"MaxSessionsPerHost", "many", {}, -1, nullptr},
        {"ReadOnly", "maybe", {}, -1, nullptr},
        {"WideLinks", "2", {}, -1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszKey ? c.pszKey : "(none)") + "=" + (c.pszStored ? c.pszStored : ""));
        CTempShare share;  // a settings file of its own
        if (c.pszKey != nullptr) {
            ASSERT_EQ(plat::ProfileWriteString(g_pszConfigSection, c.pszKey, c.pszStored), 0);
        }
        std::vector<const char*> argv{"corvane"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CCmdLine cmd;
        std::string strError;
        ASSERT_EQ(ParseCmdLine(static_cast<int>(argv.size()), argv.data(), cmd, strError), 0) << strError;
        CSessMan man;
        man.m_nMaxSessions = 999;
        EXPECT_EQ(ApplyNetOptions(cmd, man, strError), c.nResult) << strError;
        if (c.nResult == 0) {
            c.check(man);
        } else {
            EXPECT_NE(strError.find(std::string(c.pszKey) + "=" + c.pszStored), std::string::npos) << strError;
            EXPECT_EQ(man.m_nMaxSessions, 999) << "a failed call changed the manager";
        }
    }
}
