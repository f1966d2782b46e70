// The frame link on its own: a frame that leaves through a socket in pieces arrives whole,
// a send the STB never takes ends the connection, and over memory silence is nothing
// written. (Receive over both links: frame_test.cpp.)
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "net/frame.h"
#include "net/socklink.h"
#include "tests/test_bytes.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

// The largest frame leaves through socket buffers far smaller than itself while the STB
// takes a thousand bytes at a time: every byte arrives, in order, and the send succeeds.
// An STB that takes nothing for the whole send time-out fails the send, and the link is
// shut down: the next receive finds the connection closed.
TEST(FrameLink, SendThatThePeerTakesInPiecesArrivesWhole)
{
    plat::Socket a, b;
    ASSERT_EQ(plat::SockPair(&a, &b), 0);
    ShrinkSocketBuffers(a);
    ShrinkSocketBuffers(b);
    CSockLink link(a);
    const std::string frame = MakeFrame(0xD3, RandomBytes(kMaxPayload, 7));
    std::string got;
    std::thread stb([&] {
        char buf[1000];
        int n;
        while (got.size() < frame.size() && (n = plat::SockRecv(b, buf, sizeof(buf))) > 0)
            got.append(buf, static_cast<size_t>(n));
    });
    EXPECT_EQ(link.Send(reinterpret_cast<const uint8_t*>(frame.data()), frame.size()), 0);
    stb.join();
    EXPECT_TRUE(SameBytes(got, frame));

    ASSERT_EQ(plat::SockSetSendTimeout(a, 100), 0);
    EXPECT_EQ(link.Send(reinterpret_cast<const uint8_t*>(frame.data()), frame.size()), -1);
    uint8_t byte;
    EXPECT_EQ(link.Recv(&byte, 1, RecvWait::FrameStart, 5000), 0) << "the link was not shut down";
    plat::SockClose(b);
}

// Over a memory link a session is settled when nothing was written that the test has not
// read, no frame is begun, and the session lives on in the probe's loop: each fault that
// kept the probe's reply from coming next over a socket fails it.
TEST(FrameLink, MemorySilenceIsNothingWritten)
{
    CTempShare share;
    CTestServer server;
    struct Case {
        const char* pszName;
        std::function<void(CStbSession&)> act;
        const CProbe* pProbe;
        bool bSettled;
    };
    const auto enterDirDown = [](CStbSession& stb) { stb.Ask(0x13, PathPayload("/"), 0xE3); };
    const Case cases[] = {
        {"nothing sent", [](CStbSession&) {}, &kMainLoopProbe, true},
        {"a request the loop does not know", [](CStbSession& stb) { stb.SendFrame(0x7F, ""); }, &kMainLoopProbe,
         true},
        {"a reply left unread", [](CStbSession& stb) { stb.SendFrame(0x11, ""); }, &kMainLoopProbe, false},
        {"half a frame", [](CStbSession& stb) { stb.SendRaw(kVerReq.substr(0, 3)); }, &kMainLoopProbe, false},
        {"FC_SESS_CLOSE", [](CStbSession& stb) { stb.SendFrame(0x00, ""); }, &kMainLoopProbe, false},
        {"the directory download's loop, main loop's probe", enterDirDown, &kMainLoopProbe, false},
        {"the directory download's loop, its own probe", enterDirDown, &kDirDownProbe, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CStbSession stb(server.Port());
        c.act(stb);
        EXPECT_EQ(static_cast<bool>(stb.Settled(*c.pProbe)), c.bSettled);
    }
}
