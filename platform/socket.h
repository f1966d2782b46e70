// TCP sockets of the daemon and its client. Every call reports failure as a
// negative result; none raises a signal (sends never end the process on a dead peer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

#ifdef _WIN32
// A Winsock SOCKET. Include this header before <winsock2.h>: its INVALID_SOCKET macro
// would otherwise stand where the constant below is declared.
using Socket = uintptr_t;
constexpr Socket INVALID_SOCKET = ~static_cast<Socket>(0);
#else
using Socket = int;
constexpr Socket INVALID_SOCKET = -1;
#endif

// Starts and stops the sockets library. Nothing to do on this platform; kept so the
// listener's start-up and shutdown steps read the same on every platform.
int SockStartup();
void SockCleanup();

Socket SockCreateTcp();
// Sets SO_REUSEADDR; the result is 0 or -1.
int SockSetReuseAddr(Socket s);
// Binds to the port on every local IPv4 address.
int SockBindAny(Socket s, uint16_t usPort);
// Binds to the port on one local IPv4 address given in dotted form ("192.168.1.5").
// -1 when the text is not such an address or the bind fails (no interface has it, say).
int SockBindAddr(Socket s, const char* pszAddr, uint16_t usPort);
// Binds to the port on the loopback address only (tests, the client).
int SockBindLoopback(Socket s, uint16_t usPort);
int SockListen(Socket s, int nBacklog);
// The port a bound socket actually got (useful after binding port 0), or -1.
int SockLocalPort(Socket s);

enum class AcceptError { None, Closed, Passing, TimedOut };
// Waits for one connection. On failure returns INVALID_SOCKET and says whether the
// listening socket was shut down (Closed), the failure will pass (Passing: out of
// descriptors or memory, a connection aborted before it was accepted, ...), or the
// socket's receive time-out passed with no connection (TimedOut). pulPeerAddr, when not
// null, receives the peer's IPv4 address in host byte order (127.0.0.1 is 0x7F000001).
Socket SockAccept(Socket s, AcceptError* pError, uint32_t* pulPeerAddr = nullptr);

// Connects to host:port (dotted IPv4 or a name). INVALID_SOCKET on failure.
Socket SockConnect(const char* pszHost, uint16_t usPort);

// Sets TCP_NODELAY: every frame leaves at once.
int SockSetNoDelay(Socket s);
// Receive and send time-outs in milliseconds (0 = none). A send time-out bounds each
// SockSendAll as a whole: a peer that takes too little of it makes the send fail. Where
// the system can judge by what the peer acknowledged (Linux), the connection also fails
// once bytes sent, or the probes of a closed window, have gone unanswered that long.
int SockSetRecvTimeout(Socket s, int nMillis);
int SockSetSendTimeout(Socket s, int nMillis);

// One receive call: the count received, 0 when the peer closed the connection, -1 on an
// error or time-out. An interrupted call is repeated.
int SockRecv(Socket s, void* pBuf, int nLen);
// One receive call that never waits: what has arrived already (the count), 0 when the peer
// closed the connection, -1 on an error, kSockWouldWait when nothing is there yet.
constexpr int kSockWouldWait = -2;
int SockRecvNoWait(Socket s, void* pBuf, int nLen);
// After a receive or send of this thread failed: whether its time-out passed, and the
// system's words for the failure otherwise.
bool SockLastTimedOut();
std::string SockLastErrorText();
// Sends every byte, repeating partial sends; 0 when all were accepted, -1 otherwise: an
// error, or the socket's send time-out passed before the last byte was accepted (it runs
// from the call, however the bytes trickle in meanwhile).
int SockSendAll(Socket s, const void* pBuf, size_t nLen);

// Shuts the connection down in both directions: a receive or accept pending on it in
// another thread returns at once.
void SockShutdown(Socket s);
void SockClose(Socket s);

// A connected pair of stream sockets (tests and fuzzing drive a session through one).
int SockPair(Socket* pA, Socket* pB);

}  // namespace plat
