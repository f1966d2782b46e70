#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
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

int SockSetSendTimeout(Socket s, int nMillis)
{
#ifdef TCP_USER_TIMEOUT
    // The system's own judgement by what the peer acknowledged: sent bytes that stay
    // unacknowledged, or a window that stays closed through its probes (kernels from 5.1
    // on count those too), fail the connection after the time-out.
    const unsigned int uiMillis = nMillis > 0 ? static_cast<unsigned int>(nMillis) : 0;
    setsockopt(s, IPPROTO_TCP, TCP_USER_TIMEOUT, &uiMillis, sizeof(uiMillis));
#endif
    return SetTimeout(s, SO_SNDTIMEO, nMillis);
}

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

// The socket's send time-out in milliseconds; 0 when it has none.
static int64_t SendTimeoutOf(Socket s)
{
    timeval tv{};
    socklen_t len = sizeof(tv);
    if (getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, &len) != 0)
        return 0;
    return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

static int64_t NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int SockSendAll(Socket s, const void* pBuf, size_t nLen)
{
    // The send time-out bounds the whole buffer, not each wait for room: the system keeps
    // making a little room now and then for a peer whose window is closed (its send buffer
    // grows), and a time-out that each such trickle restarted would never pass. So every
    // send takes only what fits at once, and the waits between them share one deadline.
    const char* p = static_cast<const char*>(pBuf);
    const int64_t llStart = NowMs();
    int64_t llDeadline = -1;  // read only once a wait is needed: most buffers fit at once
    while (nLen > 0) {
        ssize_t n = send(s, p, nLen, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            nLen -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return -1;
        if (llDeadline < 0) {
            const int64_t llTimeout = SendTimeoutOf(s);
            llDeadline = llTimeout > 0 ? llStart + llTimeout : 0;
        }
        int nWaitMs = -1;  // no time-out: wait for room as long as it takes
        if (llDeadline > 0) {
            const int64_t llLeft = llDeadline - NowMs();
            if (llLeft <= 0) {
                errno = EAGAIN;  // as a send whose time-out passed
                return -1;
            }
            nWaitMs = static_cast<int>(llLeft > INT32_MAX ? INT32_MAX : llLeft);
        }
        pollfd pfd{s, POLLOUT, 0};
        const int r = poll(&pfd, 1, nWaitMs);
        if (r == 0) {
            errno = EAGAIN;  // the time ran out with no room: room that comes later is too late
            return -1;
        }
        if (r < 0 && errno != EINTR)
            return -1;
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
