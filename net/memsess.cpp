#include "net/memsess.h"

#include <memory>

namespace {

std::unique_ptr<CFrameLink> NewMemLink(CMemLink*& pLink)
{
    auto p = std::make_unique<CMemLink>();
    pLink = p.get();
    return p;
}

}  // namespace

CMemSession::CMemSession() : m_Sess(NewMemLink(m_pLink)) {}

bool CMemSession::Push(const void* pBytes, size_t nCount)
{
    if (m_bEnded)
        return false;
    m_pLink->Put(pBytes, nCount);
    Run();
    return true;
}

int CMemSession::Close()
{
    if (!m_bEnded) {
        m_pLink->EndInput();
        Run();
    }
    return m_nResult;
}

void CMemSession::Run()
{
    if (!m_Loop)
        m_Loop.emplace(m_Sess);
    while (!m_bEnded) {
        const int rc = m_Loop->Step();
        if (rc == kRecvIdle)
            return;
        if (rc == 0)
            continue;
        m_Loop->End();
        EndSession(m_Sess, rc);
        m_nResult = rc;
        m_bEnded = true;
    }
}
