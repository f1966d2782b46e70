#include "net/sess.h"

#include "platform/log.h"

CSess::CSess(plat::Socket hSock) : m_SockLink(hSock), m_pLink(&m_SockLink) {}

CSess::CSess(std::unique_ptr<CFrameLink> pLink)
    : m_SockLink(plat::INVALID_SOCKET), m_pOwnLink(std::move(pLink)), m_pLink(m_pOwnLink.get())
{
}

CSess::~CSess() { Close(); }

void CSess::ShutdownByServer()
{
    std::lock_guard<std::mutex> lock(m_SockLock);
    if (!m_pLink->IsOpen() || m_bShutByServer)
        return;
    plat::Trace("Close socket by server\n");
    m_pLink->Shutdown();
    m_bShutByServer = true;
    // A running session thread closes its own connection as it ends; one that never ran
    // leaves it to us.
    if (m_hThread.load() == nullptr)
        m_pLink->Close();
}

void CSess::CloseLink()
{
    std::lock_guard<std::mutex> lock(m_SockLock);
    m_pLink->Close();
}

void CSess::Close()
{
    ShutdownByServer();
    WaitForThreadEnd(m_hThread);
    CloseLink();
    m_nState = 0;
}
