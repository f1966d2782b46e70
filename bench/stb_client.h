// The STB side of the benchmarks: loopback connections that behave like an STB's
// (TCP_NODELAY, one frame at a time), and the FC_VER_REQ exchange.
#pragma once

#include <cstddef>
#include <cstdint>

// FC_VER_REQ with no payload, and the only reply Corvane 3.04 may give to it (FC_VER_ACK,
// version 3.4).
constexpr uint8_t kVerRequest[5] = {0xA5, 0x02, 0x00, 0x11, 0x4F};
constexpr uint8_t kVerReply[7] = {0xA5, 0x04, 0x00, 0xE1, 0x03, 0x04, 0x26};

// A blocking connection to 127.0.0.1:usPort with TCP_NODELAY and a receive time-out of
// nRecvTimeoutMs, closed on exec. The descriptor, or -1.
int ConnectLoopback(uint16_t usPort, int nRecvTimeoutMs = 5000);

// A connection by ConnectLoopback that closes itself; fd is -1 when it failed.
struct CConn {
    int fd;
    CConn(uint16_t usPort, int nRecvTimeoutMs) : fd(ConnectLoopback(usPort, nRecvTimeoutMs)) {}
    ~CConn();
    CConn(const CConn&) = delete;
    CConn& operator=(const CConn&) = delete;
};

// Sends every byte (the daemon's own plat::SockSendAll). 0, or -1.
int SendAll(int fd, const void* pBuf, size_t nLen);
// Receives exactly nLen bytes. 0, or -1 (error, time-out, or the peer closed).
int RecvExact(int fd, void* pBuf, size_t nLen);

// Sends FC_VER_REQ and reads the reply. 0 when the reply is exactly kVerReply.
int VerRoundTrip(int fd);

// Raises this process's limit of open descriptors to at least nWanted (up to the hard
// limit). The limit now in force.
long RaiseFileLimit(long nWanted);
