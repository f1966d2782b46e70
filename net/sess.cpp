#include "net/sess.h"

#include "platform/log.h"

CSess::CSess(plat::Socket hSock) : m_hSock(hSock) {}

CSess::~CSess() { Close(); }

void CSess::ShutdownByServer()
{
    std::lock_guard<std::mutex> lock(m_SockLock);
    if (m_hSock == plat::INVALID_SOCKET || m_bShutByServer)
        return;
    plat::Trace("Close socket by server\n");
    plat::SockShutdown(m_hSock);
    m_bShutByServer = true;
    // A running session thread closes its own socket as it ends; one that never ran
    // leaves it to us.
    if (m_hThread.load() == nullptr) {
        plat::SockClose(m_hSock);
        m_hSock = plat::INVALID_SOCKET;
    }
}

void CSess::Close()
{
    ShutdownByServer();
    WaitForThreadEnd(m_hThread);
    {
        std::lock_guard<std::mutex> lock(m_SockLock);
        if (m_hSock != plat::INVALID_SOCKET) {
            plat::SockClose(m_hSock);
            m_hSock = plat::INVALID_SOCKET;
        }
    }
    m_nState = 0;
}
