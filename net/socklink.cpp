#include "net/socklink.h"

#include "platform/log.h"

CSockLink::~CSockLink() { Close(); }

// The socket keeps a time-out once set, so only a change is passed on; a read within a
// frame sets its time-out only when it has to wait, so a frame that arrives whole costs
// two reads and no change of time-out.
void CSockLink::SetRecvTimeout(int nMillis)
{
    if (m_nRecvTimeoutSet == nMillis)
        return;
    int rc = plat::SockSetRecvTimeout(m_hSock, nMillis);
    if (rc != 0)
        plat::Trace("setsockopt(SO_RCVTIMEO, %d)=%d\n", nMillis, rc);
    m_nRecvTimeoutSet = rc == 0 ? nMillis : 0;
}

int CSockLink::Recv(uint8_t* pTo, int nWant, RecvWait eWait, int nTimeoutMs)
{
    if (eWait == RecvWait::WithinFrame) {
        const int n = plat::SockRecvNoWait(m_hSock, pTo, nWant);
        if (n != plat::kSockWouldWait)
            return n;
    }
    SetRecvTimeout(nTimeoutMs);
    return plat::SockRecv(m_hSock, pTo, nWant);
}

int CSockLink::Send(const uint8_t* pFrame, size_t nSize)
{
    // A blocking send may stop early on this platform; a frame cut short would leave the
    // STB out of step for good, so the rest follows until the connection fails.
    if (plat::SockSendAll(m_hSock, pFrame, nSize) == 0)
        return 0;
    // The connection failed, or the STB did not take the frame within the send time-out.
    // Part of a frame may have left, so the connection is of no more use: shutting it down
    // ends the session at its next receive instead of leaving it to wait for the STB.
    plat::SockShutdown(m_hSock);
    return -1;
}

void CSockLink::Shutdown()
{
    if (m_hSock != plat::INVALID_SOCKET)
        plat::SockShutdown(m_hSock);
}

void CSockLink::Close()
{
    if (m_hSock == plat::INVALID_SOCKET)
        return;
    plat::SockShutdown(m_hSock);
    plat::SockClose(m_hSock);
    m_hSock = plat::INVALID_SOCKET;
}
