#include "net/memlink.h"

#include <algorithm>
#include <cstring>

void CMemLink::Put(const void* pBytes, size_t nCount)
{
    if (m_nInAt == m_strIn.size()) {
        m_strIn.clear();  // all received: start the buffer afresh instead of growing it
        m_nInAt = 0;
    }
    m_strIn.append(static_cast<const char*>(pBytes), nCount);
}

std::string CMemLink::Take(size_t nMax)
{
    const size_t n = std::min(nMax, Unread());
    std::string strOut = m_strOut.substr(m_nOutAt, n);
    m_nOutAt += n;
    if (m_nOutAt == m_strOut.size()) {
        m_strOut.clear();
        m_nOutAt = 0;
    }
    return strOut;
}

int CMemLink::Recv(uint8_t* pTo, int nWant, RecvWait, int)
{
    if (m_bShut || nWant <= 0)
        return 0;
    const size_t n = std::min(static_cast<size_t>(nWant), Unreceived());
    if (n == 0)
        return m_bInputEnded ? 0 : kLinkIdle;
    memcpy(pTo, m_strIn.data() + m_nInAt, n);
    m_nInAt += n;
    return static_cast<int>(n);
}

int CMemLink::Send(const uint8_t* pFrame, size_t nSize)
{
    if (m_bShut)
        return -1;
    m_ullWritten += nSize;
    if (m_bKeepWritten)
        m_strOut.append(reinterpret_cast<const char*>(pFrame), nSize);
    return 0;
}
