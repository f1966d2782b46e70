#include "net/payload.h"

#include <algorithm>

#include "net/packet.h"
#include "net/wire.h"

CPayloadReader::CPayloadReader(const CPacket& packet)
    : m_pBytes(packet.Payload()), m_nLength(static_cast<size_t>(std::max(packet.PayloadLength(), 0)))
{
}

CPayloadReader::CPayloadReader(const uint8_t* pBytes, size_t nLength) : m_pBytes(pBytes), m_nLength(nLength) {}

uint8_t CPayloadReader::U8() { return static_cast<uint8_t>(LE(1)); }

uint16_t CPayloadReader::U16() { return static_cast<uint16_t>(LE(2)); }

uint32_t CPayloadReader::U32() { return static_cast<uint32_t>(LE(4)); }

uint64_t CPayloadReader::U64() { return LE(8); }

uint64_t CPayloadReader::LE(int nWidth)
{
    // The field's bytes that are there, behind zeros for the ones that are not.
    uint8_t field[8] = {};
    const size_t nWant = static_cast<size_t>(std::clamp(nWidth, 0, 8));
    const size_t nHave = std::min(nWant, Left());
    std::copy_n(m_pBytes + m_nAt, nHave, field);
    m_nAt += nHave;
    return GetU64LE(field);
}

std::string CPayloadReader::Path()
{
    const uint8_t* pStart = m_pBytes + m_nAt;
    const uint8_t* pEnd = std::find(pStart, pStart + Left(), uint8_t{0});
    std::string strPath(pStart, pEnd);
    m_nAt = std::min(m_nLength, m_nAt + strPath.size() + 1);
    return strPath;
}

CPayloadBytes CPayloadReader::Rest()
{
    const CPayloadBytes rest{m_pBytes + m_nAt, Left()};
    m_nAt = m_nLength;
    return rest;
}

CPayloadWriter::CPayloadWriter(CPacket& packet) : m_pBytes(packet.Payload()) {}

uint8_t* CPayloadWriter::Claim(size_t nCount)
{
    if (!m_bOk || nCount > static_cast<size_t>(kMaxPayload) - m_nAt) {
        m_bOk = false;
        return nullptr;
    }
    uint8_t* pField = m_pBytes + m_nAt;
    m_nAt += nCount;
    return pField;
}

bool CPayloadWriter::U8(uint8_t ucValue) { return LE(ucValue, 1); }

bool CPayloadWriter::U32(uint32_t ulValue) { return LE(ulValue, 4); }

bool CPayloadWriter::U64(uint64_t ullValue) { return LE(ullValue, 8); }

bool CPayloadWriter::LE(uint64_t ullValue, int nWidth)
{
    const int nBytes = std::clamp(nWidth, 0, 8);
    uint8_t* pField = Claim(static_cast<size_t>(nBytes));
    if (pField != nullptr)
        PutLE(pField, ullValue, nBytes);
    return pField != nullptr;
}

bool CPayloadWriter::Bytes(const uint8_t* pBytes, size_t nCount)
{
    uint8_t* pField = Claim(nCount);
    if (pField != nullptr)
        std::copy_n(pBytes, nCount, pField);
    return pField != nullptr;
}

bool CPayloadWriter::Path(std::string_view strPath)
{
    uint8_t* pField = Claim(strPath.size() + 1);
    if (pField == nullptr)
        return false;
    pField = std::copy(strPath.begin(), strPath.end(), pField);
    *pField = 0;
    return true;
}
