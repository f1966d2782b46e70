// One connection to the daemon: frames out, checked frames in, with a receive time-out so
// that a silent daemon never holds the client for good. Every failure here is one of the
// connection (exit status 3); Error() says what happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "tools/stb_frame.h"

class CStbConn {
public:
    CStbConn();
    ~CStbConn();
    CStbConn(const CStbConn&) = delete;
    CStbConn& operator=(const CStbConn&) = delete;

    // Connects and sets the time-out (milliseconds) of every later receive and send.
    int Connect(const std::string& strHost, uint16_t usPort, int nTimeoutMs);
    // Sends one frame with the payload. 0, or -1.
    int Send(uint8_t ucCmd, const uint8_t* pPayload, size_t nLength);
    // Sends the frame whose payload was written into OutFrame().Payload(). 0, or -1.
    int SendOut(uint8_t ucCmd, size_t nLength);
    CStbFrameBuf& OutFrame() { return m_Out; }
    // Receives one checked frame; it stays valid until the next receive. 0, or -1.
    int Receive(CStbFrame& frame);
    // Sends a request and receives its reply, which must carry the reply byte and at least
    // nMinLength payload bytes. 0, or -1.
    int Exchange(uint8_t ucCmd, const std::vector<uint8_t>& payload, uint8_t ucReply, size_t nMinLength,
                 CStbFrame& reply);
    // Says goodbye with FC_SESS_CLOSE (only understood outside the directory transactions)
    // and closes the connection.
    void Close(bool bSayGoodbye);

    // Records a failure found by a caller in a frame this connection delivered.
    int Reject(const std::string& strWhy);
    const std::string& Error() const { return m_strError; }

private:
    int Fill();

    plat::Socket m_hSock = plat::INVALID_SOCKET;
    int m_nTimeoutMs = 0;
    std::unique_ptr<uint8_t[]> m_pIn;  // received bytes [m_nStart, m_nEnd) not yet parsed
    size_t m_nStart = 0;
    size_t m_nEnd = 0;
    CStbFrameBuf m_Out;
    std::string m_strError;
};

// The request payload of the one-path commands: a tag byte, the path, a 0 byte.
std::vector<uint8_t> PathPayload(const std::string& strPath);
// Appends the string and its terminating 0 byte.
void AppendCString(std::vector<uint8_t>& bytes, const std::string& str);
// "0x1f", for messages.
std::string HexByte(uint8_t uc);
