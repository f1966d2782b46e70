#include "stb_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/socket.h"

int ConnectLoopback(uint16_t usPort, int nRecvTimeoutMs)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    timeval tv{};
    tv.tv_sec = nRecvTimeoutMs / 1000;
    tv.tv_usec = (nRecvTimeoutMs % 1000) * 1000;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(usPort);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int rc;
    do {
        rc = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

CConn::~CConn()
{
    if (fd >= 0)
        close(fd);
}

int SendAll(int fd, const void* pBuf, size_t nLen) { return plat::SockSendAll(fd, pBuf, nLen); }

int RecvExact(int fd, void* pBuf, size_t nLen)
{
    char* p = static_cast<char*>(pBuf);
    while (nLen > 0) {
        ssize_t n = recv(fd, p, nLen, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        p += n;
        nLen -= static_cast<size_t>(n);
    }
    return 0;
}

int VerRoundTrip(int fd)
{
    uint8_t reply[sizeof(kVerReply)];
    if (SendAll(fd, kVerRequest, sizeof(kVerRequest)) != 0 || RecvExact(fd, reply, sizeof(reply)) != 0)
        return -1;
    return memcmp(reply, kVerReply, sizeof(reply)) == 0 ? 0 : -1;
}

long RaiseFileLimit(long nWanted)
{
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0)
        return -1;
    if (rl.rlim_cur != RLIM_INFINITY && static_cast<long>(rl.rlim_cur) < nWanted) {
        rl.rlim_cur = (rl.rlim_max == RLIM_INFINITY || static_cast<long>(rl.rlim_max) >= nWanted)
                          ? static_cast<rlim_t>(nWanted)
                          : rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
        getrlimit(RLIMIT_NOFILE, &rl);
    }
    return rl.rlim_cur == RLIM_INFINITY ? nWanted : static_cast<long>(rl.rlim_cur);
}
