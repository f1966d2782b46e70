#include "tools/stb_conn.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "net/protocol.h"
#include "net/wire.h"

namespace {

const char* FaultText(FrameFault eFault)
{
    switch (eFault) {
    case FrameFault::NoSync:
        return "a frame without its sync byte";
    case FrameFault::BadLength:
        return "a frame with a length below 2";
    case FrameFault::BadChecksum:
        return "a frame with a wrong checksum";
    case FrameFault::None:
        break;
    }
    return "a frame it cannot read";
}

}  // namespace

std::string HexByte(uint8_t uc)
{
    char sz[8];
    snprintf(sz, sizeof(sz), "0x%02x", uc);
    return sz;
}

void AppendCString(std::vector<uint8_t>& bytes, const std::string& str)
{
    const size_t nAt = bytes.size();
    bytes.resize(nAt + str.size() + 1);
    if (!str.empty())
        memcpy(bytes.data() + nAt, str.data(), str.size());
    bytes.back() = 0;
}

std::vector<uint8_t> PathPayload(const std::string& strPath)
{
    std::vector<uint8_t> payload(1, 0);
    AppendCString(payload, strPath);
    return payload;
}

std::vector<uint8_t> U32Payload(uint32_t ulValue)
{
    std::vector<uint8_t> payload(4);
    PutU32LE(payload.data(), ulValue);
    return payload;
}

CStbConn::CStbConn(size_t nInBuffer)
    : m_nInSize(std::max(nInBuffer, static_cast<size_t>(kMaxFrame))), m_pIn(new uint8_t[m_nInSize]),
      m_pOut(new uint8_t[kMaxFrame])
{
}

CStbConn::~CStbConn() { Close(false); }

int CStbConn::Connect(const std::string& strHost, uint16_t usPort, int nTimeoutMs)
{
    m_hSock = plat::SockConnect(strHost.c_str(), usPort);
    if (m_hSock == plat::INVALID_SOCKET)
        return Reject("cannot connect to " + strHost + ":" + std::to_string(usPort));
    SetTimeout(nTimeoutMs);
    return 0;
}

void CStbConn::SetTimeout(int nTimeoutMs)
{
    m_nTimeoutMs = nTimeoutMs;
    plat::SockSetRecvTimeout(m_hSock, nTimeoutMs);
    plat::SockSetSendTimeout(m_hSock, nTimeoutMs);
}

int CStbConn::Reject(const std::string& strWhy)
{
    m_strError = strWhy;
    return -1;
}

int CStbConn::Send(uint8_t ucCmd, const uint8_t* pPayload, size_t nLength)
{
    if (nLength > static_cast<size_t>(kMaxPayload))
        return Reject("request of " + std::to_string(nLength) + " bytes is too long for one frame");
    if (nLength > 0)
        memcpy(OutPayload(), pPayload, nLength);
    return SendOut(ucCmd, nLength);
}

int CStbConn::SendOut(uint8_t ucCmd, size_t nLength)
{
    const size_t nSize = SealFrame(m_pOut.get(), ucCmd, nLength);
    if (nSize == 0)
        return Reject("request of " + std::to_string(nLength) + " bytes is too long for one frame");
    return SendFrame(m_pOut.get(), nSize);
}

int CStbConn::SendFrame(const uint8_t* pFrame, size_t nSize)
{
    if (m_hSock == plat::INVALID_SOCKET || plat::SockSendAll(m_hSock, pFrame, nSize) != 0)
        return Reject("the connection to the daemon failed while sending");
    return 0;
}

int CStbConn::Fill()
{
    if (m_nStart == m_nEnd) {
        m_nStart = m_nEnd = 0;
    } else if (m_nInSize - m_nEnd < static_cast<size_t>(kMaxFrame)) {
        memmove(m_pIn.get(), m_pIn.get() + m_nStart, m_nEnd - m_nStart);
        m_nEnd -= m_nStart;
        m_nStart = 0;
    }
    const int n = plat::SockRecv(m_hSock, m_pIn.get() + m_nEnd, static_cast<int>(m_nInSize - m_nEnd));
    if (n == 0)
        return Reject("the daemon closed the connection");
    if (n < 0) {
        if (!plat::SockLastTimedOut())
            return Reject("the connection to the daemon failed: " + plat::SockLastErrorText());
        char sz[64];
        snprintf(sz, sizeof(sz), "no answer from the daemon within %d s", (m_nTimeoutMs + 999) / 1000);
        return Reject(sz);
    }
    m_nEnd += static_cast<size_t>(n);
    return 0;
}

int CStbConn::Receive(CFrameView& frame)
{
    if (m_hSock == plat::INVALID_SOCKET)
        return Reject("not connected");
    for (;;) {
        frame = ScanFrame(m_pIn.get() + m_nStart, m_nEnd - m_nStart);
        switch (frame.eScan) {
        case FrameScan::Whole:
            m_nStart += frame.nBytes;
            return 0;
        case FrameScan::Drop:
            return Reject(std::string("the daemon sent ") + FaultText(frame.eFault));
        case FrameScan::NeedMore:
            if (Fill() != 0)
                return -1;
            break;
        }
    }
}

int CStbConn::Exchange(uint8_t ucCmd, const std::vector<uint8_t>& payload, uint8_t ucReply, size_t nMinLength,
                       CFrameView& reply)
{
    if (Send(ucCmd, payload.data(), payload.size()) != 0 || Receive(reply) != 0)
        return -1;
    if (reply.ucCommand != ucReply)
        return Reject("unexpected reply " + HexByte(reply.ucCommand) + " to request " + HexByte(ucCmd) + " (expected " +
                      HexByte(ucReply) + ")");
    if (reply.nPayload < nMinLength)
        return Reject("reply " + HexByte(ucReply) + " of " + std::to_string(reply.nPayload) + " bytes is too short");
    return 0;
}

void CStbConn::Close(bool bSayGoodbye)
{
    if (m_hSock == plat::INVALID_SOCKET)
        return;
    if (bSayGoodbye)
        Send(FC_SESS_CLOSE, nullptr, 0);
    plat::SockClose(m_hSock);
    m_hSock = plat::INVALID_SOCKET;
}
