// Sessions and the session manager, through an in-process listener on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/thread.h"
#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

namespace {

const std::string kSessClose = MakeFrame(0x00, "");

// True once the session's thread has ended and the manager may free it.
bool Finished(const CSess* p) { return p->m_nState == -1 && p->m_hThread.load() == nullptr; }

}  // namespace

TEST(Session, VersionReplyIgnoresThePayload)
{
    CTestServer server;
    CTestClient client(server.Port());
    for (const std::string& payload : {std::string(), std::string(1, '\0'), std::string("\xA5\x02\x00\x11\x4F", 5),
                                       std::string(40000, '\xA5')}) {
        SCOPED_TRACE(payload.size());
        client.SendFrame(0x11, payload);
        EXPECT_EQ(client.RecvBytes(kVerReply.size()), kVerReply);
    }
}

// The version request that follows the unknown bytes is the only one answered; the
// FC_SESS_CLOSE at the end makes the server close, so its answer is everything received.
TEST(Session, UnknownCommandsGetNoReplyAndTheSessionGoesOn)
{
    CTestServer server;
    CTestClient client(server.Port());
    for (uint8_t cmd : {0x01, 0x04, 0x05, 0x06, 0x15, 0x19, 0x21, 0x24, 0x25, 0x29, 0x2F, 0x30, 0xA5, 0xFF})
        client.SendFrame(cmd, std::string("\x00/x\x00", 4));
    client.SendFrame(0x11, "");
    client.SendRaw(kSessClose);
    EXPECT_EQ(client.RecvBytes(kVerReply.size() + 1), kVerReply);
    EXPECT_TRUE(client.WaitClosed());
}

TEST(Session, CloseRequestGetsNoReplyAndTheServerCloses)
{
    CTestServer server;
    CTestClient client(server.Port());
    client.SendRaw(kSessClose);
    EXPECT_EQ(client.RecvBytes(1), "");
    EXPECT_TRUE(client.WaitClosed(0));
}

TEST(Session, TwentySessionsAreServedAtOnce)
{
    CTestServer server;
    std::vector<std::unique_ptr<CTestClient>> clients;
    // One connection at a time into the backlog of 5, so that no connect waits for a
    // retransmitted handshake; all twenty stay open.
    for (unsigned i = 0; i < 20; ++i) {
        clients.push_back(std::make_unique<CTestClient>(server.Port()));
        ASSERT_TRUE(clients.back()->Connected());
        ASSERT_TRUE(WaitFor([&] { return server.Man().m_nAccepted.load() == i + 1; }));
    }
    // The last to connect asks first: no session waits for the ones before it to end.
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        (*it)->SendFrame(0x11, "");
        EXPECT_EQ((*it)->RecvBytes(kVerReply.size()), kVerReply);
    }
}

TEST(Session, SilenceEndsTheSessionButTrafficKeepsItOpen)
{
    CTestServer server(400, 100);
    CTestClient busy(server.Port());
    // Each wait is bounded, not the session: requests every 100 ms for longer than the time-out.
    for (int i = 0; i < 6; ++i) {
        busy.SendFrame(0x11, "");
        ASSERT_EQ(busy.RecvBytes(kVerReply.size()), kVerReply) << "request " << i;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(busy.WaitClosed(3000));
}

// A peer that asks for a long stream and then reads nothing holds its session only for the
// send time-out, whatever room its receive buffer offers: the stream and the session end,
// and the file is free for others again. With a small receive buffer the window closes at
// once, and the system keeps taking a few bytes more into the daemon's own send buffer now
// and then; a send time-out that counts those as progress never ends the session.
TEST(Session, StalledDownloadEndsWithinTheSendTimeOutAndReleasesTheFile)
{
    constexpr int kSendTimeoutMs = 2000;
    // What the session may take beyond the time-out to notice it and end.
    constexpr int kMarginMs = 1500;
    for (int nRecvBuf : {0, 4096}) {
        SCOPED_TRACE(nRecvBuf == 0 ? "the system's receive buffer" : "a receive buffer of 4 KiB");
        CTempShare share;
        // Far more than the socket buffers hold, and above the 10 MiB read into memory, so
        // the file stays open while the stream runs.
        constexpr uint32_t kSize = 64u << 20;
        share.WriteFile("big.bin", "");
        std::filesystem::resize_file(share.Path("big.bin"), kSize);
        CTestServer server([](CSessMan& man) {
            man.m_nSendTimeoutMs = kSendTimeoutMs;
            man.m_nWaitTimeoutMs = 60000;  // silence alone would keep the session for a minute
        });
        CTestClient stalled(server.Port(), nullptr, "127.0.0.1", nRecvBuf);
        ASSERT_TRUE(stalled.Connected());
        stalled.SendFrame(2, std::string("\x05/big.bin\0", 10));
        uint8_t cmd = 0;
        std::string reply;
        ASSERT_TRUE(stalled.RecvFrame(cmd, reply));
        ASSERT_EQ(cmd, 0xF2);
        ASSERT_EQ(reply, std::string(1, '\0') + U32(kSize));
        stalled.SendFrame(35, U32(0) + U32(kSize));

        CTestClient other(server.Port());
        const auto deleted = [&] {
            other.SendFrame(8, std::string("\x01/big.bin\0", 10));
            return other.RecvFrame(cmd, reply) && cmd == 0xF8 && reply == std::string(1, '\0');
        };
        EXPECT_TRUE(WaitFor(deleted, kSendTimeoutMs + kMarginMs)) << "the stalled session still holds the file";
        EXPECT_FALSE(Exists(share.Path("big.bin")));
        EXPECT_TRUE(stalled.WaitClosed()) << "the stalled session did not end";
    }
}

// The list is read only while the accept thread is idle (WaitIdle), so that no session is
// freed under the test's feet.
TEST(SessMan, FinishedSessionsAreFreedOnTheNextAccept)
{
    CTestServer server;
    CSessMan& man = server.Man();
    CTestClient first(server.Port());
    first.SendFrame(0x11, "");
    ASSERT_EQ(first.RecvBytes(7), kVerReply);
    CTestClient second(server.Port());
    ASSERT_TRUE(server.WaitIdle(2));
    second.SendRaw(kSessClose);
    ASSERT_TRUE(second.WaitClosed());
    CSess* pFirst = man.m_pHead;
    CSess* pSecond = pFirst->m_pNext;
    ASSERT_NE(pSecond, nullptr);
    ASSERT_TRUE(WaitFor([&] { return Finished(pSecond); }));

    // A finished session behind a live one.
    CTestClient third(server.Port());
    ASSERT_TRUE(server.WaitIdle(3));
    EXPECT_EQ(server.SessionCount(), 2) << "the finished session was not freed";
    EXPECT_EQ(man.m_pHead, pFirst);

    // A finished session at the head.
    first.SendRaw(kSessClose);
    ASSERT_TRUE(first.WaitClosed());
    ASSERT_TRUE(WaitFor([&] { return Finished(pFirst); }));
    CTestClient fourth(server.Port());
    ASSERT_TRUE(server.WaitIdle(4));
    EXPECT_EQ(server.SessionCount(), 2) << "the finished head was not freed";
    EXPECT_FALSE(Finished(man.m_pHead));
    for (CTestClient* c : {&third, &fourth}) {
        c->SendFrame(0x11, "");
        EXPECT_EQ(c->RecvBytes(7), kVerReply);
    }
}

TEST(SessMan, DestroyClosesLiveSessionsAndMayBeRepeated)
{
    CTestServer server;
    CSessMan& man = server.Man();
    EXPECT_TRUE(WaitFor([&] { return man.m_nState == 6; })) << "state " << man.m_nState;
    CTestClient a(server.Port()), b(server.Port());
    for (CTestClient* c : {&a, &b}) {
        c->SendFrame(0x11, "");
        ASSERT_EQ(c->RecvBytes(7), kVerReply);
    }
    // The sessions wait 10 s for a frame: only closing them ends them sooner.
    auto t0 = std::chrono::steady_clock::now();
    man.Destroy();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(man.m_nState, 0);
    EXPECT_EQ(man.m_pHead, nullptr);
    EXPECT_EQ(man.m_hServSock, plat::INVALID_SOCKET);
    EXPECT_TRUE(a.WaitClosed(1000));
    EXPECT_TRUE(b.WaitClosed(1000));
    man.Destroy();
    EXPECT_EQ(man.m_nState, 0);
}

TEST(SessMan, FailedCreateIsUndoneByDestroy)
{
    uint16_t takenPort = 0;
    int blocker = ListenLoopback(takenPort);
    ASSERT_GE(blocker, 0);
    for (bool bTakenPort : {true, false}) {
        SCOPED_TRACE(bTakenPort ? "port taken" : "no accept thread");
        CSessMan man;
        man.m_usPort = bTakenPort ? takenPort : 0;
        if (!bTakenPort)
            plat::ThreadFailNextCreations(1);
        EXPECT_EQ(man.Create(), bTakenPort ? -3 : -5);
        man.Destroy();
        EXPECT_EQ(man.m_nState, 0);
        EXPECT_EQ(man.m_hServSock, plat::INVALID_SOCKET);
    }
    close(blocker);
}

// A connection whose session thread cannot be created is closed at once and taken out of
// the list wherever it stands; the listener goes on serving.
TEST(SessMan, FailedSessionThreadClosesOnlyThatConnection)
{
    for (int nBefore : {0, 2}) {
        SCOPED_TRACE(nBefore);
        CTestServer server;
        std::vector<std::unique_ptr<CTestClient>> before;
        for (int i = 0; i < nBefore; ++i) {
            before.push_back(std::make_unique<CTestClient>(server.Port()));
            before.back()->SendFrame(0x11, "");
            ASSERT_EQ(before.back()->RecvBytes(7), kVerReply);
        }
        server.ListenPort();  // the accept thread is made before the failure is set up
        plat::ThreadFailNextCreations(1);
        CTestClient doomed(server.Port());
        EXPECT_TRUE(doomed.WaitClosed());
        CTestClient after(server.Port());
        after.SendFrame(0x11, "");
        EXPECT_EQ(after.RecvBytes(7), kVerReply);
        ASSERT_TRUE(server.WaitIdle(nBefore + 2));
        EXPECT_EQ(server.SessionCount(), nBefore + 1);
        for (auto& c : before) {
            c->SendFrame(0x11, "");
            EXPECT_EQ(c->RecvBytes(7), kVerReply);
        }
    }
}
