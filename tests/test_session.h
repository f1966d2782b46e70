// Requests over one STB connection as the suites make them: a request and its checked
// reply, the status and block replies of the open and upload requests, data streams, and
// silence. A session of an in-process server runs over a memory link on the test's
// thread, where silence is nothing written; over a socket (a port number: the real
// daemon, the listener's own tests) silence is proved by a probe whose reply must be the
// next thing to arrive.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "net/cmdtable.h"
#include "net/memsess.h"
#include "tests/test_util.h"

// FC_VER_REQ with an empty payload and its reply (protocol version 3.04), as bytes.
inline const std::string kVerReq("\xA5\x02\x00\x11\x4F", 5);
inline const std::string kVerReply("\xA5\x04\x00\xE1\x03\x04\x26", 7);

// A request that changes nothing in the command loop it is sent in, and the exact reply it
// gets there. A session handles its requests one after the other, so the probe's reply
// arriving next proves that every request sent before it has been handled, its work done
// and its reply sent in full, and that nothing else was sent. (A stray frame equal to the
// probe's reply would pass: pick the probe of a loop whose requests under test cannot
// send that frame.) Over a memory link the same is seen directly: nothing written, no
// frame begun, the session alive and in the probe's loop.
struct CProbe {
    std::string strRequest;  // frames as bytes
    std::string strReply;
    CmdLoop eLoop;           // the loop that answers it
};
// Main loop: FC_VER_REQ. Inside either sub-loop it gets no reply.
extern const CProbe kMainLoopProbe;
// Directory download sub-loop: RS_DATA_REQ for no bytes at offset 0xFFFFFFFF, answered
// with the error frame of that offset.
extern const CProbe kDirDownProbe;
// Directory upload sub-loop: RS_DATA_UP_REQ of no bytes at offset 0, answered as nothing
// taken. It never finishes a pending upload: only a size of 0 would make it the last
// block, and an empty file is complete once announced.
extern const CProbe kDirUpProbe;

// A reply: its command byte (-1 when no frame came) and payload.
using CReply = std::pair<int, std::string>;

// How a data request's stream comes: the reply byte of its frames, the width of their
// offset field, the size of a full block, and the loop that serves the request.
struct CDataForm {
    uint8_t ucReply;
    int nWidth;
    size_t nBlock;
    const CProbe* pLoop;
};
// FC_DATA_REQ (3, 35), FC_BIGFILE_DATA_REQ (38, 42) and RS_DATA_REQ (2, 36).
CDataForm DataFormOf(uint8_t req);

// The reply byte of an upload request: 0xFD for 13 and 43, 0xDD for 45 and 39, 0xDE for
// 46, 0xFE for 14, 40 and 44.
uint8_t UploadReplyOf(uint8_t req);

// A path request's payload: the tag byte, the path and its terminating 0.
std::string PathPayload(const std::string& path, char tag = '\x01');

// One STB connection. Every helper sends one request and reads its reply; a missing or
// malformed reply is a test failure.
class CStbSession : public CTestClient {
public:
    // Over a socket to the port (see CTestClient).
    using CTestClient::CTestClient;
    // A session of the server over a memory link: every request is handled, its replies
    // written, before the call that sent it returns.
    explicit CStbSession(CServerPort port);
    ~CStbSession() override;

    bool Connected() const override;
    bool TrySend(const std::string& bytes) override;
    std::string RecvBytes(size_t n, int timeoutMs = 5000) override;
    bool WaitClosed(int timeoutMs = 5000) override;

    CReply Exchange(uint8_t req, const std::string& payload);
    // The payload of the reply, whose command byte must be reply.
    std::string Ask(uint8_t req, const std::string& payload, uint8_t reply);
    // The status byte of a reply that holds only one; -1 when it is not such a reply.
    int Status(uint8_t req, const std::string& payload, uint8_t reply);
    // The count taken of a block request with width-byte fields; the reply must carry the
    // block's offset. ~0 without a proper reply.
    uint64_t Block(uint8_t req, uint8_t reply, int width, uint64_t off, const std::string& bytes);

    // FC_FILE_UP_REQ and FC_BIGFILE_UP_REQ (13, 45 with a 32-bit size, 39, 43 with a 64-bit
    // one): the status byte.
    int UploadOpen(uint8_t req, uint64_t size, const std::string& path);
    // FC_DATA_UP_REQ and FC_BIGFILE_DATA_UP_REQ (14, 46, 40, 44): the count taken.
    uint64_t UploadBlock(uint8_t req, uint64_t off, const std::string& bytes);
    // FC_DIR_UP_REQ: the status byte; the session is in the upload sub-loop afterwards.
    int BeginDirUp(const std::string& dir, uint64_t total, uint32_t count = 1);
    // RS_FILE_UP_REQ: status and size of the reply ({-1, 0} without a proper reply).
    std::pair<int, uint32_t> DirUpEntry(uint8_t type, uint32_t size, const std::string& name);
    // RS_DATA_UP_REQ: the count taken.
    uint32_t DirUpBlock(uint32_t off, const std::string& bytes);

    // A data request and its stream of nExpect bytes: every frame carries the request's
    // reply byte, the offset of its first byte and a full block unless it is the last;
    // nExpect 0: one error frame holding only the offset. The loop's probe then shows
    // that nothing followed the stream.
    std::string Fetch(uint8_t req, uint64_t off, uint64_t count, uint64_t nExpect);

    // Nothing more has come and the session waits in the probe's loop: over a memory
    // link, nothing was written that was not read; over a socket, the probe's reply is the
    // next thing to arrive.
    ::testing::AssertionResult Settled(const CProbe& probe = kMainLoopProbe);
    // True when the session answers FC_VER_REQ (the connection may have been refused).
    bool Version();
    // Bytes the session has sent that this side has not read yet.
    size_t Unread() const;

private:
    std::unique_ptr<CMemSession> m_pMem;  // the memory session, if the session is one
};

// What most suites start each test with: a temporary shared folder, an in-process server
// on it and one session of that server (over a memory link).
class SessionFixture : public ::testing::Test {
protected:
    CTempShare share;
    CTestServer server;
    CStbSession client{server.Port()};
};
