// The frame link between a session and its STB: what the command loop receives and
// sends through, whatever carries the bytes. The daemon's sessions run over a TCP
// connection (net/socklink.h); a test or a fuzzer drives a session over memory buffers
// (net/memlink.h), on its own thread and without a port.
#pragma once

#include <cstddef>
#include <cstdint>

// Which wait a receive is: for a frame to begin, or for the rest of a frame begun.
enum class RecvWait { FrameStart, WithinFrame };

// What Recv returns when nothing has arrived and the link never waits (a memory link
// whose input is used up): the receiver keeps what it has and comes back later.
constexpr int kLinkIdle = -2;

class CFrameLink {
public:
    virtual ~CFrameLink() = default;

    // Up to nWant bytes of what the STB sent: those that have arrived, else what arrives
    // within the time-out (nTimeoutMs). The count; 0 when the STB closed the connection
    // or it was shut down; -1 when the read failed or the time-out passed; kLinkIdle
    // (only from a link that never waits) when nothing is there yet. Called only on the
    // session's thread.
    virtual int Recv(uint8_t* pTo, int nWant, RecvWait eWait, int nTimeoutMs) = 0;

    // Sends a whole frame. 0 when every byte was taken; -1 when the connection failed or
    // the STB did not take the frame within the send time-out, and the link is then shut down
    // (part of a frame may have left, so the connection is of no more use). Called only
    // on the session's thread.
    virtual int Send(const uint8_t* pFrame, size_t nSize) = 0;

    // Shuts the connection down in both directions: a receive pending on another thread
    // returns at once, and every later receive finds the connection closed.
    virtual void Shutdown() = 0;
    // Releases the connection (shut down first). Only once no receive or send can run on
    // it any more.
    virtual void Close() = 0;
    // False once the connection has been released.
    virtual bool IsOpen() const = 0;
};
