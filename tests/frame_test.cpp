// Frames: building replies, and receiving over real connections (the daemon's
// listener on loopback, or one session driven directly over a socket pair).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "net/packet.h"
#include "net/sess.h"
#include "tests/test_util.h"

namespace {

const std::string kVerReq("\xA5\x02\x00\x11\x4F", 5);
const std::string kVerReply("\xA5\x04\x00\xE1\x03\x04\x26", 7);

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 7 + 3);
    return s;
}

}  // namespace

TEST(BuildReply, PayloadLimit)
{
    auto packet = std::make_unique<CPacket>();
    std::string payload = Pattern(kMaxReplyPayload + 1);
    const auto* pPayload = reinterpret_cast<const uint8_t*>(payload.data());

    ASSERT_EQ(BuildReply(*packet, 0xE7, pPayload, 65533), 0);
    EXPECT_EQ(packet->m_usLength, 0xFFFF);
    ASSERT_EQ(packet->m_nSize, 65538);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(packet->m_Buf), 65538),
              MakeFrame(0xE7, payload.substr(0, 65533)));

    auto before = std::make_unique<CPacket>(*packet);
    EXPECT_EQ(BuildReply(*packet, 0xE1, pPayload, 65534), -1);
    EXPECT_EQ(0, memcmp(packet.get(), before.get(), sizeof(CPacket))) << "a refused reply changed the packet";
}

TEST(BuildReply, NullPayloadChecksumsBytesInPlace)
{
    auto packet = std::make_unique<CPacket>();
    packet->m_Buf[4] = 0x03;
    packet->m_Buf[5] = 0x04;
    ASSERT_EQ(BuildReply(*packet, 0xE1, nullptr, 2), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(packet->m_Buf), static_cast<size_t>(packet->m_nSize)),
              kVerReply);
}

// Every byte stream ends with FC_SESS_CLOSE, so the whole answer is known once the server
// closes the connection: exactly `replies` version replies and nothing else.
TEST(FrameHunting, OnlyGoodFramesAreAnswered)
{
    struct Case {
        const char* pszName;
        std::string bytes;
        int replies;
    };
    const Case cases[] = {
        {"plain request", kVerReq, 1},
        {"garbage before a frame", std::string("\x00\x11\x4F\xFF\x5A\x02", 6) + kVerReq, 1},
        {"LEN 0", std::string("\xA5\x00\x00", 3) + kVerReq, 1},
        {"LEN 1", std::string("\xA5\x01\x00", 3) + kVerReq, 1},
        {"bad checksum", std::string("\xA5\x02\x00\x11\x50", 5) + kVerReq, 1},
        {"bad checksum with payload", std::string("\xA5\x04\x00\x11\xA5\x02\x00", 7) + kVerReq, 1},
        {"LEN 0xFFFF", MakeFrame(0x11, Pattern(65533)) + kVerReq, 2},
    };
    CTestServer server;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTestClient client(server.Port());
        ASSERT_TRUE(client.Connected());
        client.SendRaw(c.bytes + MakeFrame(0x00, ""));
        std::string expected;
        for (int i = 0; i < c.replies; ++i)
            expected += kVerReply;
        EXPECT_EQ(client.RecvBytes(expected.size() + 1), expected);
        EXPECT_TRUE(client.WaitClosed());
    }
}

namespace {

// One session over a socket pair, its Receive called directly on a thread of the test.
class CPairSess {
public:
    CPairSess(int waitMs, int bodyMs)
    {
        plat::Socket a, b;
        EXPECT_EQ(plat::SockPair(&a, &b), 0);
        m_pSess = std::make_unique<CSess>(a);
        m_pSess->m_nWaitTimeoutMs = waitMs;
        m_pSess->m_nBodyTimeoutMs = bodyMs;
        m_hPeer = b;
    }
    ~CPairSess() { ClosePeer(); }

    CSess& Sess() { return *m_pSess; }
    void ClosePeer()
    {
        if (m_hPeer >= 0)
            close(m_hPeer);
        m_hPeer = -1;
    }
    void Send(const std::string& bytes)
    {
        EXPECT_EQ(plat::SockSendAll(m_hPeer, bytes.data(), bytes.size()), 0);
    }
    // Bytes still waiting in the session's socket.
    int Unread() const
    {
        int n = 0;
        return ioctl(m_pSess->m_hSock, FIONREAD, &n) == 0 ? n : -1;
    }

private:
    std::unique_ptr<CSess> m_pSess;
    plat::Socket m_hPeer = -1;
};

template <class T>
bool Ready(const std::future<T>& f)
{
    return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

}  // namespace

// Each piece is sent only once the receiver has taken the one before and had a moment to
// call recv again, so that it arrives in a read of its own.
TEST(Receive, PiecesAndCloses)
{
    const std::string frame10 = MakeFrame(0x11, Pattern(8));  // LEN 10: at most 2 body reads
    const std::string head = frame10.substr(0, 3);
    std::vector<std::string> bytewise{head};
    for (char c : frame10.substr(3))
        bytewise.emplace_back(1, c);
    struct Case {
        const char* pszName;
        std::vector<std::string> pieces;
        bool bClose;
        std::vector<int> results;
    };
    const Case cases[] = {
        {"LEN split across two sends", {"\xA5\x02", std::string("\x00\x11\x4F", 3)}, false, {0}},
        {"body in as many reads as allowed", {head, frame10.substr(3, 4), frame10.substr(7)}, false, {0}},
        {"body in more reads than allowed", bytewise, false, {-1}},
        {"close between frames", {kVerReq}, true, {0, 1}},
        {"close before any byte", {}, true, {1}},
        {"close after the sync byte", {"\xA5"}, true, {1}},
        {"close inside the body", {head, frame10.substr(3, 4)}, true, {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CPairSess pair(5000, 2000);
        auto results = std::async(std::launch::async, [&pair, n = c.results.size()] {
            std::vector<int> r;
            for (size_t i = 0; i < n; ++i)
                r.push_back(Receive(pair.Sess().m_Packet, pair.Sess()));
            return r;
        });
        for (const std::string& piece : c.pieces) {
            if (Ready(results))
                break;
            pair.Send(piece);
            WaitFor([&] { return pair.Unread() == 0 || Ready(results); });
            std::this_thread::sleep_for(std::chrono::milliseconds(5));  // back in its next recv
        }
        if (c.bClose)
            pair.ClosePeer();
        ASSERT_EQ(results.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(results.get(), c.results);
        if (c.results.back() == 0) {
            EXPECT_EQ(pair.Sess().m_Packet.Command(), 0x11);
            EXPECT_EQ(pair.Sess().m_Packet.m_nSize, pair.Sess().m_Packet.m_usLength + 3);
        }
    }
}

TEST(Receive, SilenceEndsAfterTheRightTimeout)
{
    struct Case {
        const char* pszName;
        std::string bytes;
        int waitMs, bodyMs;
        int minMs, maxMs;
    };
    const Case cases[] = {
        {"nothing at all: the wait for a frame", "", 200, 100, 190, 2000},
        {"only a sync byte: the wait for the body", "\xA5", 5000, 100, 90, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CPairSess pair(c.waitMs, c.bodyMs);
        pair.Send(c.bytes);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(Receive(pair.Sess().m_Packet, pair.Sess()), -1);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_GE(ms, c.minMs);
        EXPECT_LT(ms, c.maxMs);
    }
}
