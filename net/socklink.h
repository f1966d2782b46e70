// The frame link over the session's TCP connection: every wait under its own time-out,
// sends that repeat until the whole frame has left.
#pragma once

#include "net/link.h"
#include "platform/socket.h"

class CSockLink : public CFrameLink {
public:
    // Takes the connected socket (INVALID_SOCKET: a link that was never connected).
    explicit CSockLink(plat::Socket hSock) : m_hSock(hSock) {}
    ~CSockLink() override;
    CSockLink(const CSockLink&) = delete;
    CSockLink& operator=(const CSockLink&) = delete;

    // A frame's first bytes wait up to the time-out; a read within a frame first takes
    // what has arrived and waits only when nothing has.
    int Recv(uint8_t* pTo, int nWant, RecvWait eWait, int nTimeoutMs) override;
    // The send time-out is the socket's own (set by the manager before the session starts).
    int Send(const uint8_t* pFrame, size_t nSize) override;
    void Shutdown() override;
    void Close() override;
    bool IsOpen() const override { return m_hSock != plat::INVALID_SOCKET; }

    plat::Socket Socket() const { return m_hSock; }

private:
    // Gives the socket the receive time-out unless it holds it already.
    void SetRecvTimeout(int nMillis);

    plat::Socket m_hSock;
    // The receive time-out the socket holds now (0: not set yet), so that a wait whose
    // time-out is already in place costs no system call.
    int m_nRecvTimeoutSet = 0;
};
