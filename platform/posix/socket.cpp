#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace plat {

int SockStartup() { return 0; }

void SockCleanup() {}

Socket SockCreateTcp()
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return s < 0 ? INVALID_SOCKET : s;
}

int SockSetReuseAddr(Socket s)
{
    int on = 1;
    return setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) == 0 ? 0 : -1;
}

static int BindTo(Socket s, uint32_t ulAddr, uint16_t usPort)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(usPort);
    sa.sin_addr.s_addr = htonl(ulAddr);
    return bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0 ? 0 : -1;
}

int SockBindAny(Socket s, uint16_t usPort) { return BindTo(s, INADDR_ANY, usPort); }

int SockBindLoopback(Socket s, uint16_t usPort) { return BindTo(s, INADDR_LOOPBACK, usPort); }

int SockBindAddr(Socket s, const char* pszAddr, uint16_t usPort)
{
    in_addr addr{};
    if (inet_pton(AF_INET, pszAddr, &addr) != 1)
        return -1;
    return BindTo(s, ntohl(addr.s_addr), usPort);
}

int SockListen(Socket s, int nBacklog) { return listen(s, nBacklog) == 0 ? 0 : -1; }

int SockLocalPort(Socket s)
{
    sockaddr_in sa{};
    socklen_t len = sizeof(sa);
    if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return -1;
    return ntohs(sa.sin_port);
}

Socket SockAccept(Socket s, AcceptError* pError, uint32_t* pulPeerAddr)
{
    sockaddr_in peer{};
    socklen_t len = sizeof(peer);
    int c = accept4(s, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (c >= 0) {
        *pError = AcceptError::None;
        if (pulPeerAddr != nullptr)
            *pulPeerAddr = peer.sin_family == AF_INET ? ntohl(peer.sin_addr.s_addr) : 0;
        return c;
    }
    // A listening socket that was shut down answers EINVAL; a closed one EBADF.
    if (errno == EINVAL || errno == EBADF || errno == ENOTSOCK)
        *pError = AcceptError::Closed;
    else if (errno == EAGAIN || errno == EWOULDBLOCK)
        *pError = AcceptError::TimedOut;
    else
        *pError = AcceptError::Passing;
    return INVALID_SOCKET;
}

Socket SockConnect(const char* pszHost, uint16_t usPort)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pList = nullptr;
    char szPort[8];
    snprintf(szPort, sizeof(szPort), "%u", usPort);
    if (getaddrinfo(pszHost, szPort, &hints, &pList) != 0)
        return INVALID_SOCKET;
    Socket result = INVALID_SOCKET;
    for (addrinfo* p = pList; p != nullptr; p = p->ai_next) {
        int s = socket(p->ai_family, p->ai_socktype | SOCK_CLOEXEC, p->ai_protocol);
        if (s < 0)
            continue;
        int rc;
        do {
            rc = connect(s, p->ai_addr, p->ai_addrlen);
        } while (rc != 0 && errno == EINTR);
        if (rc == 0) {
            result = s;
            break;
        }
        close(s);
    }
    freeaddrinfo(pList);
    if (result != INVALID_SOCKET)
        SockSetNoDelay(result);
    return result;
}

int SockSetNoDelay(Socket s)
{
    int on = 1;
    return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) == 0 ? 0 : -1;
}

static int SetTimeout(Socket s, int nOption, int nMillis)
{
    timeval tv{};
    tv.tv_sec = nMillis / 1000;
    tv.tv_usec = (nMillis % 1000) * 1000;
    return setsockopt(s, SOL_SOCKET, nOption, &tv, sizeof(tv)) == 0 ? 0 : -1;
}

int SockSetRecvTimeout(Socket s, int nMillis) { return SetTimeout(s, SO_RCVTIMEO, nMillis); }

int SockSetSendTimeout(Socket s, int nMillis) { return SetTimeout(s, SO_SNDTIMEO, nMillis); }

int SockRecv(Socket s, void* pBuf, int nLen)
{
    ssize_t n;
    do {
        n = recv(s, pBuf, static_cast<size_t>(nLen), 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int SockRecvNoWait(Socket s, void* pBuf, int nLen)
{
    ssize_t n;
    do {
        n = recv(s, pBuf, static_cast<size_t>(nLen), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? kSockWouldWait : -1;
    return static_cast<int>(n);
}

bool SockLastTimedOut() { return errno == EAGAIN || errno == EWOULDBLOCK; }

std::string SockLastErrorText() { return strerror(errno); }

int SockSendAll(Socket s, const void* pBuf, size_t nLen)
{
    const char* p = static_cast<const char*>(pBuf);
    while (nLen > 0) {
        ssize_t n = send(s, p, nLen, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        p += n;
        nLen -= static_cast<size_t>(n);
    }
    return 0;
}

void SockShutdown(Socket s) { shutdown(s, SHUT_RDWR); }

void SockClose(Socket s) { close(s); }

int SockPair(Socket* pA, Socket* pB)
{
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return -1;
    *pA = fds[0];
    *pB = fds[1];
    return 0;
}

}  // namespace plat
