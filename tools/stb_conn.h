// One connection to the daemon: frames out, checked frames in, with a receive time-out so
// that a silent daemon never holds the client for good. Every failure here is one of the
// connection (exit status 3); Error() says what happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/frame.h"
#include "platform/socket.h"

class CStbConn {
public:
    // Room for several whole frames: one receive call takes what is there.
    static constexpr size_t kDefaultInBuffer = 4 * static_cast<size_t>(kMaxFrame);

    // nInBuffer: bytes received ahead of the frames parsed, at least one whole frame
    // (less is taken as that). A stream of data frames is read in fewer calls with more.
    explicit CStbConn(size_t nInBuffer = kDefaultInBuffer);
    ~CStbConn();
    CStbConn(const CStbConn&) = delete;
    CStbConn& operator=(const CStbConn&) = delete;

    // Connects and sets the time-out (milliseconds) of every later receive and send.
    int Connect(const std::string& strHost, uint16_t usPort, int nTimeoutMs);
    // Sets the time-out (milliseconds) of every later receive and send.
    void SetTimeout(int nTimeoutMs);
    // Sends one frame with the payload. 0, or -1.
    int Send(uint8_t ucCmd, const uint8_t* pPayload, size_t nLength);
    // Sends the frame whose payload was written into OutPayload(). 0, or -1.
    int SendOut(uint8_t ucCmd, size_t nLength);
    // Sends a whole frame that the caller built and sealed (net/frame.h SealFrame), for a
    // sender that keeps frames ready instead of building each one anew. 0, or -1.
    int SendFrame(const uint8_t* pFrame, size_t nSize);
    // Room for the payload of the next frame out: kMaxPayload bytes.
    uint8_t* OutPayload() { return m_pOut.get() + kPayloadOffset; }
    // Receives one checked frame; its payload stays valid until the next receive. Any
    // bytes that do not make a checked frame fail the connection: the daemon never sends
    // them. 0, or -1.
    int Receive(CFrameView& frame);
    // Sends a request and receives its reply, which must carry the reply byte and at least
    // nMinLength payload bytes. 0, or -1.
    int Exchange(uint8_t ucCmd, const std::vector<uint8_t>& payload, uint8_t ucReply, size_t nMinLength,
                 CFrameView& reply);
    // Says goodbye with FC_SESS_CLOSE (only understood outside the directory transactions)
    // and closes the connection.
    void Close(bool bSayGoodbye);

    // Records a failure found by a caller in a frame this connection delivered.
    int Reject(const std::string& strWhy);
    const std::string& Error() const { return m_strError; }
    // The connection's socket, for waiting on many connections at once; it stays this
    // connection's own (INVALID_SOCKET when not connected).
    plat::Socket Handle() const { return m_hSock; }

private:
    int Fill();

    plat::Socket m_hSock = plat::INVALID_SOCKET;
    int m_nTimeoutMs = 0;
    size_t m_nInSize;
    std::unique_ptr<uint8_t[]> m_pIn;  // received bytes [m_nStart, m_nEnd) not yet parsed
    size_t m_nStart = 0;
    size_t m_nEnd = 0;
    std::unique_ptr<uint8_t[]> m_pOut;  // the frame being sent
    std::string m_strError;
};

// The request payload of the one-path commands: a tag byte, the path, a 0 byte.
std::vector<uint8_t> PathPayload(const std::string& strPath);
// The request payload of one 32-bit little-endian number.
std::vector<uint8_t> U32Payload(uint32_t ulValue);
// Appends the string and its terminating 0 byte.
void AppendCString(std::vector<uint8_t>& bytes, const std::string& str);
// "0x1f", for messages.
std::string HexByte(uint8_t uc);
