#include "net/sess.h"

#include "platform/log.h"

CSess::CSess(plat::Socket hSock) : m_hSock(hSock) {}

CSess::~CSess() { Close(); }

void CSess::Close()
{
    bool bThreadOwnsSocket = m_hThread.load() != nullptr;
    {
        std::lock_guard<std::mutex> lock(m_SockLock);
        if (m_hSock != plat::INVALID_SOCKET) {
            plat::Trace("Close socket by server\n");
            plat::SockShutdown(m_hSock);
            if (!bThreadOwnsSocket) {
                plat::SockClose(m_hSock);
                m_hSock = plat::INVALID_SOCKET;
            }
        }
    }
    WaitForThreadEnd(m_hThread);
    {
        // The thread closed its socket as it ended; one that never ran left it to us.
        std::lock_guard<std::mutex> lock(m_SockLock);
        if (m_hSock != plat::INVALID_SOCKET) {
            plat::SockClose(m_hSock);
            m_hSock = plat::INVALID_SOCKET;
        }
    }
    m_nState = 0;
}
