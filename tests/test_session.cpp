#include "tests/test_session.h"

#include <algorithm>
#include <cstdio>

#include "net/memsess.h"
#include "tests/test_bytes.h"

const CProbe kMainLoopProbe{kVerReq, kVerReply, CmdLoop::Main};
const CProbe kDirDownProbe{MakeFrame(0x02, LE(0xFFFFFFFF, 4) + LE(0, 4)), MakeFrame(0x20, LE(0xFFFFFFFF, 4)),
                           CmdLoop::DirDown};
const CProbe kDirUpProbe{MakeFrame(0x05, LE(0, 4)), MakeFrame(0x50, LE(0, 4) + LE(0, 4)), CmdLoop::DirUp};

namespace {

// The first bytes of what came, in hex, for a failure message.
std::string Hex(const std::string& bytes)
{
    std::string out;
    char sz[4];
    for (size_t i = 0; i < bytes.size() && i < 16; ++i) {
        snprintf(sz, sizeof(sz), "%02X ", static_cast<uint8_t>(bytes[i]));
        out += sz;
    }
    return bytes.empty() ? "nothing" : out + (bytes.size() > 16 ? "..." : "");
}

}  // namespace

uint8_t UploadReplyOf(uint8_t req)
{
    switch (req) {
    case 13: case 43: return 0xFD;
    case 45: case 39: return 0xDD;
    case 46: return 0xDE;
    default: return 0xFE;  // 14, 40, 44
    }
}

CDataForm DataFormOf(uint8_t req)
{
    switch (req) {
    case 3: return {0xF3, 4, 4096, &kMainLoopProbe};
    case 35: return {0xD3, 4, 32768, &kMainLoopProbe};
    case 38: return {0xD6, 8, 32768, &kMainLoopProbe};
    case 42: return {0xDA, 8, 4096, &kMainLoopProbe};
    case 2: return {0x20, 4, 4096, &kDirDownProbe};
    case 36: return {0xD4, 4, 32768, &kDirDownProbe};
    default:
        ADD_FAILURE() << "request " << int(req) << " asks for no data";
        return {0, 4, 4096, &kMainLoopProbe};
    }
}

std::string PathPayload(const std::string& path, char tag) { return std::string(1, tag) + path + '\0'; }

CStbSession::CStbSession(CServerPort port) : m_pMem(port.Server().NewMemSession()) {}

CStbSession::~CStbSession() = default;

bool CStbSession::Connected() const { return m_pMem ? !m_pMem->Ended() : CTestClient::Connected(); }

size_t CStbSession::Unread() const
{
    if (m_pMem)
        return m_pMem->Link().Unread();
    const int n = UnreadBytes(static_cast<plat::Socket>(Fd()));
    return n > 0 ? static_cast<size_t>(n) : 0;
}

bool CStbSession::TrySend(const std::string& bytes)
{
    return m_pMem ? m_pMem->Push(bytes.data(), bytes.size()) : CTestClient::TrySend(bytes);
}

// Every reply was written before the request's send returned: what is not there now
// never comes.
std::string CStbSession::RecvBytes(size_t n, int timeoutMs)
{
    return m_pMem ? m_pMem->Link().Take(n) : CTestClient::RecvBytes(n, timeoutMs);
}

bool CStbSession::WaitClosed(int timeoutMs)
{
    if (!m_pMem)
        return CTestClient::WaitClosed(timeoutMs);
    m_pMem->Link().Take(m_pMem->Link().Unread());
    return m_pMem->Ended();
}

bool CStbSession::Version() { return TrySend(kVerReq) && RecvBytes(kVerReply.size()) == kVerReply; }

CReply CStbSession::Exchange(uint8_t req, const std::string& payload)
{
    SendFrame(req, payload);
    uint8_t cmd = 0;
    std::string reply;
    if (RecvFrame(cmd, reply))
        return {cmd, reply};
    ADD_FAILURE() << "no reply to request " << int(req);
    return {-1, ""};
}

std::string CStbSession::Ask(uint8_t req, const std::string& payload, uint8_t reply)
{
    auto [cmd, answer] = Exchange(req, payload);
    EXPECT_EQ(cmd, reply) << "reply to request " << int(req);
    return answer;
}

int CStbSession::Status(uint8_t req, const std::string& payload, uint8_t reply)
{
    const std::string answer = Ask(req, payload, reply);
    EXPECT_EQ(answer.size(), 1u) << "reply to request " << int(req);
    return answer.size() == 1 ? static_cast<uint8_t>(answer[0]) : -1;
}

uint64_t CStbSession::Block(uint8_t req, uint8_t reply, int width, uint64_t off, const std::string& bytes)
{
    const std::string answer = Ask(req, LE(off, width) + bytes, reply);
    if (answer.size() != 2u * width) {
        ADD_FAILURE() << "no proper reply to the block at " << off;
        return ~0ULL;
    }
    EXPECT_EQ(GetLE(answer, 0, width), off);
    return GetLE(answer, width, width);
}

int CStbSession::UploadOpen(uint8_t req, uint64_t size, const std::string& path)
{
    const int width = req == 39 || req == 43 ? 8 : 4;
    return Status(req, '\x05' + LE(size, width) + path + '\0', UploadReplyOf(req));
}

uint64_t CStbSession::UploadBlock(uint8_t req, uint64_t off, const std::string& bytes)
{
    return Block(req, UploadReplyOf(req), req == 40 || req == 44 ? 8 : 4, off, bytes);
}

int CStbSession::BeginDirUp(const std::string& dir, uint64_t total, uint32_t count)
{
    return Status(0x14, '\x07' + LE(count, 4) + LE(total, 8) + dir + '\0', 0xE4);
}

std::pair<int, uint32_t> CStbSession::DirUpEntry(uint8_t type, uint32_t size, const std::string& name)
{
    const std::string answer = Ask(0x04, static_cast<char>(type) + LE(size, 4) + name + '\0', 0x40);
    if (answer.size() != 5)
        return {-1, 0};
    return {static_cast<uint8_t>(answer[0]), GetU32(answer, 1)};
}

uint32_t CStbSession::DirUpBlock(uint32_t off, const std::string& bytes)
{
    return static_cast<uint32_t>(Block(0x05, 0x50, 4, off, bytes));
}

std::string CStbSession::Fetch(uint8_t req, uint64_t off, uint64_t count, uint64_t nExpect)
{
    const CDataForm form = DataFormOf(req);
    SendFrame(req, LE(off, form.nWidth) + LE(count, form.nWidth));
    std::string data;
    do {
        uint8_t cmd = 0;
        std::string payload;
        if (!RecvFrame(cmd, payload)) {
            ADD_FAILURE() << "stream stopped after " << data.size() << " of " << nExpect << " bytes";
            return data;
        }
        EXPECT_EQ(cmd, form.ucReply);
        if (payload.size() < static_cast<size_t>(form.nWidth)) {
            ADD_FAILURE() << "frame without a whole offset field";
            return data;
        }
        EXPECT_EQ(GetLE(payload, 0, form.nWidth), off + data.size()) << "offset field of a frame";
        const size_t nData = payload.size() - form.nWidth;
        EXPECT_EQ(nData, std::min<uint64_t>(form.nBlock, nExpect - data.size())) << "frame at " << data.size();
        data += payload.substr(form.nWidth);
    } while (data.size() < nExpect);
    EXPECT_TRUE(Settled(*form.pLoop)) << "a frame followed the stream";
    return data;
}

::testing::AssertionResult CStbSession::Settled(const CProbe& probe)
{
    if (m_pMem) {
        if (m_pMem->Link().Unread() != 0)
            return ::testing::AssertionFailure() << "written where nothing should be: "
                                                 << Hex(m_pMem->Link().Take(m_pMem->Link().Unread()));
        if (m_pMem->Ended())
            return ::testing::AssertionFailure() << "the session has ended";
        if (m_pMem->FramePending())
            return ::testing::AssertionFailure() << "the bytes of an unfinished frame wait";
        if (m_pMem->Loop() != probe.eLoop)
            return ::testing::AssertionFailure() << "the session serves another loop than the probe's";
        return ::testing::AssertionSuccess();
    }
    if (!TrySend(probe.strRequest))
        return ::testing::AssertionFailure() << "the connection refused the probe";
    const std::string got = RecvBytes(probe.strReply.size());
    if (got == probe.strReply)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "before the probe's reply " << Hex(probe.strReply) << "came "
                                         << Hex(got);
}
