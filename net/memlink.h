// The frame link over memory buffers: what the STB sent is appended to an input buffer,
// what the session writes collects in an output buffer. Nothing waits: a receive that
// finds the input used up says so (kLinkIdle), and the session's driver (CMemSession)
// decides whether more comes or the STB has gone. Not for concurrent use: the session
// and its driver run on one thread.
#pragma once

#include <string>

#include "net/link.h"

class CMemLink : public CFrameLink {
public:
    // The STB's side. Put appends to what it sent; EndInput closes its sending side, so
    // that a receive finds the connection closed once the input is used up.
    void Put(const void* pBytes, size_t nCount);
    void EndInput() { m_bInputEnded = true; }
    // Bytes sent and not received yet.
    size_t Unreceived() const { return m_strIn.size() - m_nInAt; }

    // What the session wrote and nobody took yet, and taking up to nMax bytes of it.
    size_t Unread() const { return m_strOut.size() - m_nOutAt; }
    std::string Take(size_t nMax);
    // Off: what is written is counted and dropped, as by an STB that reads and forgets
    // (a fuzzer's far end).
    void KeepWritten(bool bKeep) { m_bKeepWritten = bKeep; }
    // Every byte the session has written since the link was made.
    uint64_t Written() const { return m_ullWritten; }

    int Recv(uint8_t* pTo, int nWant, RecvWait eWait, int nTimeoutMs) override;
    int Send(const uint8_t* pFrame, size_t nSize) override;
    void Shutdown() override { m_bShut = true; }
    void Close() override { m_bShut = m_bClosed = true; }
    bool IsOpen() const override { return !m_bClosed; }

private:
    std::string m_strIn;
    size_t m_nInAt = 0;  // the first byte not received yet
    std::string m_strOut;
    size_t m_nOutAt = 0;  // the first byte not taken yet
    uint64_t m_ullWritten = 0;
    bool m_bKeepWritten = true;
    bool m_bInputEnded = false;
    bool m_bShut = false;
    bool m_bClosed = false;
};
