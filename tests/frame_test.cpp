// Frames: the codec over byte spans (scanning with its resynchronisation rules, sealing),
// replies built in a session's packet, and the receive loop over both links (a socket pair,
// memory buffers) for pieces, closes and the read budget, and over a socket for what only
// a socket shows: the time-outs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "net/frame.h"
#include "net/memlink.h"
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

CFrameView Scan(const std::string& bytes)
{
    return ScanFrame(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

// What the scanner makes of the bytes at the start of a span: a whole frame, bytes to
// drop (and why), or how many more bytes the step at hand needs.
TEST(ScanFrame, EachSpanGivesItsFrameDropOrNeed)
{
    struct Case {
        const char* pszName;
        std::string bytes;
        FrameScan eScan;
        size_t nBytes;
        FrameFault eFault;
    };
    const std::string big = MakeFrame(0x11, Pattern(65533));
    const Case cases[] = {
        {"nothing yet", "", FrameScan::NeedMore, 1, FrameFault::None},
        {"the sync byte alone", "\xA5", FrameScan::NeedMore, 2, FrameFault::None},
        {"half of LEN", "\xA5\x02", FrameScan::NeedMore, 1, FrameFault::None},
        {"header without body", std::string("\xA5\x02\x00", 3), FrameScan::NeedMore, 2, FrameFault::None},
        {"body one byte short", kVerReq.substr(0, 4), FrameScan::NeedMore, 1, FrameFault::None},
        {"LEN 0xFFFF, body short", big.substr(0, 1000), FrameScan::NeedMore, 65538 - 1000, FrameFault::None},
        {"plain request", kVerReq, FrameScan::Whole, 5, FrameFault::None},
        {"request, then the next frame", kVerReq + kVerReq, FrameScan::Whole, 5, FrameFault::None},
        {"LEN 0xFFFF", big, FrameScan::Whole, 65538, FrameFault::None},
        {"zero before a frame", std::string(1, '\0') + kVerReq, FrameScan::Drop, 1, FrameFault::NoSync},
        {"command byte before a frame", "\x11" + kVerReq, FrameScan::Drop, 1, FrameFault::NoSync},
        {"LEN 0", std::string("\xA5\x00\x00", 3) + kVerReq, FrameScan::Drop, 3, FrameFault::BadLength},
        {"LEN 1", std::string("\xA5\x01\x00", 3), FrameScan::Drop, 3, FrameFault::BadLength},
        {"bad checksum", std::string("\xA5\x02\x00\x11\x50", 5) + kVerReq, FrameScan::Drop, 5, FrameFault::BadChecksum},
        {"bad checksum with payload", std::string("\xA5\x04\x00\x11\xA5\x02\x00", 7), FrameScan::Drop, 7,
         FrameFault::BadChecksum},
        {"checksum taken modulo 256", std::string("\xA5\x03\x00\xFF\xFF\x3C", 6), FrameScan::Whole, 6,
         FrameFault::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        const CFrameView view = Scan(c.bytes);
        EXPECT_EQ(view.eScan, c.eScan);
        EXPECT_EQ(view.nBytes, c.nBytes);
        EXPECT_EQ(view.eFault, c.eFault);
    }
}

TEST(ScanFrame, WholeFrameNamesItsCommandAndPayloadInPlace)
{
    for (const std::string& payload : {std::string(), std::string(1, '\0'), Pattern(300), Pattern(65533)}) {
        SCOPED_TRACE(payload.size());
        const std::string bytes = MakeFrame(0xD3, payload) + kVerReq;
        const CFrameView view = Scan(bytes);
        ASSERT_EQ(view.eScan, FrameScan::Whole);
        EXPECT_EQ(view.ucCommand, 0xD3);
        EXPECT_EQ(view.usLength, payload.size() + 2);
        EXPECT_EQ(view.pPayload, reinterpret_cast<const uint8_t*>(bytes.data()) + 4);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.pPayload), view.nPayload), payload);
    }
}

// A stream as the daemon hunts through it: whole frames are taken, dropped bytes skipped,
// and scanning stops where more bytes are needed. Only good frames come out, however
// the bad bytes before them look.
TEST(ScanFrame, HuntingYieldsOnlyGoodFrames)
{
    struct Case {
        const char* pszName;
        std::string bytes;
        int frames;
        size_t nLeft;  // bytes of an incomplete frame at the end
    };
    const Case cases[] = {
        {"plain request", kVerReq, 1, 0},
        {"garbage before a frame", std::string("\x00\x11\x4F\xFF\x5A\x02", 6) + kVerReq, 1, 0},
        {"LEN 0", std::string("\xA5\x00\x00", 3) + kVerReq, 1, 0},
        {"LEN 1", std::string("\xA5\x01\x00", 3) + kVerReq, 1, 0},
        {"bad checksum", std::string("\xA5\x02\x00\x11\x50", 5) + kVerReq, 1, 0},
        // The bad frame's body holds a sync byte: it goes with the frame, never resynchronised on.
        {"bad checksum with payload", std::string("\xA5\x04\x00\x11\xA5\x02\x00", 7) + kVerReq, 1, 0},
        {"LEN 0xFFFF", MakeFrame(0x11, Pattern(65533)) + kVerReq, 2, 0},
        {"a frame cut short", kVerReq + kVerReq.substr(0, 3), 1, 3},
        {"sync bytes only", std::string(4, '\xA5'), 0, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::string rest = c.bytes;
        int frames = 0;
        for (;;) {
            const CFrameView view = Scan(rest);
            if (view.eScan == FrameScan::NeedMore)
                break;
            if (view.eScan == FrameScan::Whole) {
                EXPECT_EQ(view.ucCommand, 0x11);
                ++frames;
            }
            ASSERT_LE(view.nBytes, rest.size());
            rest.erase(0, view.nBytes);
        }
        EXPECT_EQ(frames, c.frames);
        EXPECT_EQ(rest.size(), c.nLeft);
    }
}

TEST(SealFrame, HeaderAndChecksumGoAroundThePayload)
{
    for (const std::string& payload : {std::string(), std::string("\x03\x04", 2), std::string(300, '\xFF'),
                                       Pattern(65533)}) {
        SCOPED_TRACE(payload.size());
        std::vector<uint8_t> buf(payload.size() + 5, 0xCC);
        memcpy(buf.data() + 4, payload.data(), payload.size());
        ASSERT_EQ(SealFrame(buf.data(), 0xE1, payload.size()), payload.size() + 5);
        EXPECT_EQ(std::string(buf.begin(), buf.end()), MakeFrame(0xE1, payload));
    }
}

TEST(SealFrame, PayloadTooLongWritesNothing)
{
    std::vector<uint8_t> buf(kMaxFrame + 1, 0xCC);
    EXPECT_EQ(SealFrame(buf.data(), 0xE1, kMaxPayload + 1), 0u);
    EXPECT_EQ(std::vector<uint8_t>(kMaxFrame + 1, 0xCC), buf);
}

TEST(BuildReply, PayloadLimit)
{
    auto packet = std::make_unique<CPacket>();
    std::string payload = Pattern(kMaxPayload + 1);
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
        m_hOwn = a;
        m_hPeer = b;
    }
    ~CPairSess() { ClosePeer(); }

    CSess& Sess() { return *m_pSess; }
    void ClosePeer()
    {
        if (m_hPeer != plat::INVALID_SOCKET)
            plat::SockClose(m_hPeer);
        m_hPeer = plat::INVALID_SOCKET;
    }
    void Send(const std::string& bytes)
    {
        EXPECT_EQ(plat::SockSendAll(m_hPeer, bytes.data(), bytes.size()), 0);
    }
    // Bytes still waiting in the session's socket.
    int Unread() const { return UnreadBytes(m_hOwn); }

private:
    std::unique_ptr<CSess> m_pSess;
    plat::Socket m_hOwn = plat::INVALID_SOCKET;  // the session's end, which it owns
    plat::Socket m_hPeer = plat::INVALID_SOCKET;
};

template <class T>
bool Ready(const std::future<T>& f)
{
    return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

}  // namespace

namespace {

// What Receive returns, call after call, for bytes that arrive in the pieces, the peer
// closing after them when bClose. Over a socket pair each piece is sent only once the
// receiver has taken the one before and had a moment to call recv again, so that it
// arrives in a read of its own; over memory each piece is put in once the receiver has
// found the link idle.
struct CPieces {
    std::vector<std::string> pieces;
    bool bClose;
    size_t nResults;
};

std::vector<int> ReceiveOverSocket(const CPieces& in, uint8_t& ucCommand, int& nSize, int& nLength)
{
    CPairSess pair(5000, 2000);
    auto results = std::async(std::launch::async, [&pair, n = in.nResults] {
        std::vector<int> r;
        for (size_t i = 0; i < n; ++i)
            r.push_back(Receive(pair.Sess().m_Packet, pair.Sess()));
        return r;
    });
    for (const std::string& piece : in.pieces) {
        if (Ready(results))
            break;
        pair.Send(piece);
        WaitFor([&] { return pair.Unread() == 0 || Ready(results); });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // back in its next recv
    }
    if (in.bClose)
        pair.ClosePeer();
    if (results.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "Receive still waits";
        return {};
    }
    const CPacket& packet = pair.Sess().m_Packet;
    ucCommand = packet.Command();
    nSize = packet.m_nSize;
    nLength = packet.m_usLength;
    return results.get();
}

std::vector<int> ReceiveOverMemory(const CPieces& in, uint8_t& ucCommand, int& nSize, int& nLength)
{
    auto pLink = std::make_unique<CMemLink>();
    CMemLink& link = *pLink;
    CSess sess(std::move(pLink));
    std::vector<int> r;
    const auto receiveUntilIdle = [&] {
        while (r.size() < in.nResults) {
            const int rc = Receive(sess.m_Packet, sess);
            if (rc == kRecvIdle)
                return;
            r.push_back(rc);
        }
    };
    for (const std::string& piece : in.pieces) {
        link.Put(piece.data(), piece.size());
        receiveUntilIdle();
    }
    if (in.bClose)
        link.EndInput();
    receiveUntilIdle();
    ucCommand = sess.m_Packet.Command();
    nSize = sess.m_Packet.m_nSize;
    nLength = sess.m_Packet.m_usLength;
    return r;
}

}  // namespace

// The same pieces give the same results over both links.
TEST(Receive, PiecesAndCloses)
{
    const std::string frame10 = MakeFrame(0x11, Pattern(8));  // LEN 10: at most 2 body reads
    const std::string head = frame10.substr(0, 3);
    std::vector<std::string> bytewise{head};
    for (char c : frame10.substr(3))
        bytewise.emplace_back(1, c);
    std::vector<std::string> singleBytes;  // LEN 2: a body of 2 bytes, within the budget
    for (char c : kVerReq)
        singleBytes.emplace_back(1, c);
    struct Case {
        const char* pszName;
        std::vector<std::string> pieces;
        bool bClose;
        std::vector<int> results;
    };
    const Case cases[] = {
        {"LEN split across two sends", {"\xA5\x02", std::string("\x00\x11\x4F", 3)}, false, {0}},
        {"frame split into single bytes", singleBytes, false, {0}},
        {"two frames in one piece", {kVerReq + kVerReq}, false, {0, 0}},
        {"body in as many reads as allowed", {head, frame10.substr(3, 4), frame10.substr(7)}, false, {0}},
        {"body in more reads than allowed", bytewise, false, {-1}},
        {"close between frames", {kVerReq}, true, {0, 1}},
        // Every drop rule once: the loop hunts on to the good frame.
        {"garbage, LEN 0 and a bad checksum before a frame",
         {std::string("\x00\xA5\x00\x00\xA5\x02\x00\x11\x50", 9) + kVerReq},
         false,
         {0}},
        {"close before any byte", {}, true, {1}},
        {"close after the sync byte", {"\xA5"}, true, {1}},
        {"close inside the body", {head, frame10.substr(3, 4)}, true, {1}},
    };
    for (bool bMemory : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.pszName) + (bMemory ? " (memory)" : " (socket)"));
            const CPieces in{c.pieces, c.bClose, c.results.size()};
            uint8_t ucCommand = 0;
            int nSize = 0, nLength = 0;
            const std::vector<int> results = bMemory ? ReceiveOverMemory(in, ucCommand, nSize, nLength)
                                                     : ReceiveOverSocket(in, ucCommand, nSize, nLength);
            EXPECT_EQ(results, c.results);
            if (c.results.back() == 0) {
                EXPECT_EQ(ucCommand, 0x11);
                EXPECT_EQ(nSize, nLength + 3);
            }
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
