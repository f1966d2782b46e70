#include "platform/socket.h"

// After platform/socket.h: see the note on INVALID_SOCKET there.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstdio>

#include "platform/win32/win.h"

namespace plat {

namespace {

// Windows keeps no mark of a socket shut down that a wait could see, and a shutdown does
// not end a wait already under way everywhere (Wine's, for one). Every wait here is made
// by this layer instead, in slices, and a socket that was shut down is marked in its
// SO_RCVTIMEO with a value no time-out takes: a receive or accept then returns at once,
// as on a system where shutting a socket down ends its waits. On a listener SO_RCVTIMEO
// also keeps the accept's time-out, which Windows itself does not apply to accept.
constexpr DWORD kShutMark = 0xFFFFFFFFu;
// The longest a wait runs before it looks for that mark again.
constexpr int kAcceptSliceMs = 50;
constexpr int kRecvSliceMs = 250;

// The sockets library for callers that never started it themselves (the client, the
// tests): started once for the process, and left to the process's end.
void EnsureStarted()
{
    static const int s_nStarted = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    (void)s_nStarted;
}

DWORD RecvTimeoutOf(Socket s, bool& bOk)
{
    DWORD dw = 0;
    int nLen = sizeof(dw);
    bOk = getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&dw), &nLen) == 0;
    return dw;
}

int SetTimeout(Socket s, int nOption, int nMillis)
{
    const DWORD dw = nMillis < 0 ? 0 : static_cast<DWORD>(nMillis);
    return setsockopt(s, SOL_SOCKET, nOption, reinterpret_cast<const char*>(&dw), sizeof(dw)) == 0 ? 0 : -1;
}

int BindTo(Socket s, uint32_t ulAddr, uint16_t usPort)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(usPort);
    sa.sin_addr.s_addr = htonl(ulAddr);
    return bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0 ? 0 : -1;
}

// Sockets are not handed to the programs the daemon starts.
void KeepFromChildren(Socket s) { SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0); }

int64_t NowMs() { return static_cast<int64_t>(GetTickCount64()); }

}  // namespace

int SockStartup()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0 ? 0 : -1;
}

void SockCleanup() { WSACleanup(); }

Socket SockCreateTcp()
{
    EnsureStarted();
    const SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    KeepFromChildren(s);
    return s;
}

int SockSetReuseAddr(Socket s)
{
    // Windows' SO_REUSEADDR lets another socket bind a port that is in use and take its
    // connections. What the option is for elsewhere, binding again at once past the
    // connections of an earlier run, Windows allows listeners anyway; exclusive use keeps
    // a second listener off the port, so that a second daemon fails to bind as it would
    // on any other system.
    BOOL bOn = TRUE;
    return setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&bOn), sizeof(bOn)) == 0 ? 0
                                                                                                               : -1;
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

int SockListen(Socket s, int nBacklog)
{
    if (listen(s, nBacklog) != 0)
        return -1;
    // The accept itself never waits (SockAccept waits before it); the sockets it gives
    // are made blocking again.
    u_long ulOn = 1;
    ioctlsocket(s, FIONBIO, &ulOn);
    return 0;
}

int SockLocalPort(Socket s)
{
    sockaddr_in sa{};
    int len = sizeof(sa);
    if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return -1;
    return ntohs(sa.sin_port);
}

Socket SockAccept(Socket s, AcceptError* pError, uint32_t* pulPeerAddr)
{
    bool bOk = false;
    const DWORD dwTimeout = RecvTimeoutOf(s, bOk);
    if (!bOk || dwTimeout == kShutMark) {
        *pError = AcceptError::Closed;
        return INVALID_SOCKET;
    }
    const int64_t llDeadline = NowMs() + static_cast<int64_t>(dwTimeout);
    for (;;) {
        int nSlice = kAcceptSliceMs;
        if (dwTimeout != 0) {
            const int64_t llLeft = llDeadline - NowMs();
            if (llLeft <= 0) {
                *pError = AcceptError::TimedOut;
                return INVALID_SOCKET;
            }
            if (llLeft < nSlice)
                nSlice = static_cast<int>(llLeft);
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval tv{nSlice / 1000, (nSlice % 1000) * 1000};
        const int r = select(0, &readable, nullptr, nullptr, &tv);
        const DWORD dwNow = RecvTimeoutOf(s, bOk);
        if (r == SOCKET_ERROR || !bOk || dwNow == kShutMark) {
            const int nErr = WSAGetLastError();
            *pError = (!bOk || dwNow == kShutMark || nErr == WSAENOTSOCK || nErr == WSAEINVAL)
                          ? AcceptError::Closed
                          : AcceptError::Passing;
            return INVALID_SOCKET;
        }
        if (r > 0)
            break;
    }
    sockaddr_in peer{};
    int len = sizeof(peer);
    const SOCKET c = accept(s, reinterpret_cast<sockaddr*>(&peer), &len);
    if (c == INVALID_SOCKET) {
        const int nErr = WSAGetLastError();
        if (nErr == WSAENOTSOCK || nErr == WSAEINVAL || nErr == WSAEINTR)
            *pError = AcceptError::Closed;
        else if (nErr == WSAEWOULDBLOCK)
            *pError = AcceptError::TimedOut;  // the connection went again before it was taken
        else
            *pError = AcceptError::Passing;
        return INVALID_SOCKET;
    }
    u_long ulOff = 0;
    ioctlsocket(c, FIONBIO, &ulOff);
    KeepFromChildren(c);
    *pError = AcceptError::None;
    if (pulPeerAddr != nullptr)
        *pulPeerAddr = peer.sin_family == AF_INET ? ntohl(peer.sin_addr.s_addr) : 0;
    return c;
}

Socket SockConnect(const char* pszHost, uint16_t usPort)
{
    EnsureStarted();
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
        const SOCKET s = WSASocketW(p->ai_family, p->ai_socktype, p->ai_protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
        if (s == INVALID_SOCKET)
            continue;
        if (connect(s, p->ai_addr, static_cast<int>(p->ai_addrlen)) == 0) {
            result = s;
            break;
        }
        closesocket(s);
    }
    freeaddrinfo(pList);
    if (result != INVALID_SOCKET)
        SockSetNoDelay(result);
    return result;
}

int SockSetNoDelay(Socket s)
{
    BOOL bOn = TRUE;
    return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bOn), sizeof(bOn)) == 0 ? 0 : -1;
}

int SockSetRecvTimeout(Socket s, int nMillis)
{
    bool bOk = false;
    if (RecvTimeoutOf(s, bOk) == kShutMark && bOk)
        return 0;  // shut down: the mark stays
    return SetTimeout(s, SO_RCVTIMEO, nMillis);
}

int SockSetSendTimeout(Socket s, int nMillis) { return SetTimeout(s, SO_SNDTIMEO, nMillis); }

int SockRecv(Socket s, void* pBuf, int nLen)
{
    // The wait comes first, in slices (see kShutMark); recv itself then finds its bytes
    // or the end of the connection at once. A receive that the system timed out would
    // also leave the connection where closing it sends nothing (Windows calls it
    // indeterminate; under Wine the peer never learns of the close).
    bool bOk = false;
    const DWORD dwTimeout = RecvTimeoutOf(s, bOk);
    const int64_t llDeadline = NowMs() + static_cast<int64_t>(dwTimeout);
    for (;;) {
        const DWORD dwNow = RecvTimeoutOf(s, bOk);
        if (!bOk)
            return -1;
        if (dwNow == kShutMark) {
            WSASetLastError(WSAESHUTDOWN);
            return 0;  // shut down: as the end of the connection
        }
        int nSlice = kRecvSliceMs;
        if (dwTimeout != 0) {
            const int64_t llLeft = llDeadline - NowMs();
            if (llLeft <= 0) {
                WSASetLastError(WSAETIMEDOUT);
                return -1;
            }
            if (llLeft < nSlice)
                nSlice = static_cast<int>(llLeft);
        }
        WSAPOLLFD pfd{};
        pfd.fd = s;
        pfd.events = POLLRDNORM;
        const int r = WSAPoll(&pfd, 1, nSlice);
        if (r < 0)
            return -1;
        if (r > 0)
            break;
    }
    const int n = recv(s, static_cast<char*>(pBuf), nLen, 0);
    return n < 0 ? -1 : n;
}

int SockRecvNoWait(Socket s, void* pBuf, int nLen)
{
    bool bOk = false;
    const DWORD dwNow = RecvTimeoutOf(s, bOk);
    if (!bOk)
        return -1;
    if (dwNow == kShutMark) {
        WSASetLastError(WSAESHUTDOWN);
        return 0;  // shut down: as the end of the connection
    }
    WSAPOLLFD pfd{};
    pfd.fd = s;
    pfd.events = POLLRDNORM;
    const int r = WSAPoll(&pfd, 1, 0);
    if (r < 0)
        return -1;
    if (r == 0)
        return kSockWouldWait;
    const int n = recv(s, static_cast<char*>(pBuf), nLen, 0);
    return n < 0 ? -1 : n;
}

bool SockLastTimedOut()
{
    const int nErr = WSAGetLastError();
    return nErr == WSAETIMEDOUT || nErr == WSAEWOULDBLOCK;
}

std::string SockLastErrorText() { return ErrorText(static_cast<DWORD>(WSAGetLastError())); }

int SockSendAll(Socket s, const void* pBuf, size_t nLen)
{
    bool bOk = false;
    if (RecvTimeoutOf(s, bOk) == kShutMark && bOk) {
        WSASetLastError(WSAESHUTDOWN);
        return -1;
    }
    const char* p = static_cast<const char*>(pBuf);
    DWORD dwTimeout = 0;
    int nOptLen = sizeof(dwTimeout);
    if (getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&dwTimeout), &nOptLen) != 0)
        dwTimeout = 0;
    // With a send time-out the wait for room is kept here (the system's own is not kept
    // everywhere, Wine's among them): the socket sends without blocking for the length of
    // the call, and the time-out bounds the whole buffer, not each wait for room. A peer
    // whose window stays closed still has a little taken into the local send buffer now
    // and then; a time-out that each such trickle restarted would never pass.
    u_long ulMode = dwTimeout != 0 ? 1 : 0;
    if (dwTimeout != 0)
        ioctlsocket(s, FIONBIO, &ulMode);
    int rc = 0;
    const int64_t llDeadline = NowMs() + static_cast<int64_t>(dwTimeout);
    while (nLen > 0) {
        const int nChunk = nLen > 0x40000000 ? 0x40000000 : static_cast<int>(nLen);
        const int n = send(s, p, nChunk, 0);
        if (n < 0 && dwTimeout != 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
            const int64_t llLeft = llDeadline - NowMs();
            WSAPOLLFD pfd{};
            pfd.fd = s;
            pfd.events = POLLWRNORM;
            const int nWaitMs = static_cast<int>(llLeft > INT_MAX ? INT_MAX : llLeft);
            const int r = llLeft > 0 ? WSAPoll(&pfd, 1, nWaitMs) : 0;
            if (r == 0) {
                WSASetLastError(WSAETIMEDOUT);  // room that comes later is too late
                rc = -1;
                break;
            }
            if (r < 0) {
                rc = -1;
                break;
            }
            continue;
        }
        if (n <= 0) {
            rc = -1;
            break;
        }
        p += n;
        nLen -= static_cast<size_t>(n);
    }
    if (dwTimeout != 0) {
        const int nErr = WSAGetLastError();
        ulMode = 0;
        ioctlsocket(s, FIONBIO, &ulMode);
        WSASetLastError(nErr);
    }
    return rc;
}

void SockShutdown(Socket s)
{
    shutdown(s, SD_BOTH);  // a listener refuses: the mark alone stands for it
    const DWORD dwMark = kShutMark;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&dwMark), sizeof(dwMark));
    // A wait, receive or send that another thread has under way returns now.
    CancelIoEx(reinterpret_cast<HANDLE>(s), nullptr);
}

void SockClose(Socket s) { closesocket(s); }

int SockPair(Socket* pA, Socket* pB)
{
    // No socketpair on Windows: a connection over the loopback address, accepted from
    // the port the connecting socket was given and from no other.
    Socket hListen = SockCreateTcp();
    if (hListen == INVALID_SOCKET)
        return -1;
    Socket hA = INVALID_SOCKET, hB = INVALID_SOCKET;
    bool bOk = SockSetReuseAddr(hListen) == 0 && SockBindLoopback(hListen, 0) == 0 && listen(hListen, 1) == 0;
    sockaddr_in sa{};
    int len = sizeof(sa);
    bOk = bOk && getsockname(hListen, reinterpret_cast<sockaddr*>(&sa), &len) == 0;
    if (bOk) {
        hA = SockCreateTcp();
        bOk = hA != INVALID_SOCKET && connect(hA, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
    }
    sockaddr_in local{};
    len = sizeof(local);
    bOk = bOk && getsockname(hA, reinterpret_cast<sockaddr*>(&local), &len) == 0;
    if (bOk) {
        sockaddr_in peer{};
        len = sizeof(peer);
        hB = accept(hListen, reinterpret_cast<sockaddr*>(&peer), &len);
        bOk = hB != INVALID_SOCKET && peer.sin_port == local.sin_port && peer.sin_addr.s_addr == local.sin_addr.s_addr;
    }
    closesocket(hListen);
    if (!bOk) {
        if (hA != INVALID_SOCKET)
            closesocket(hA);
        if (hB != INVALID_SOCKET)
            closesocket(hB);
        return -1;
    }
    KeepFromChildren(hB);
    SockSetNoDelay(hA);
    SockSetNoDelay(hB);
    *pA = hA;
    *pB = hB;
    return 0;
}

}  // namespace plat
