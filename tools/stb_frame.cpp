#include "tools/stb_frame.h"

#include "net/packet.h"
#include "net/wire.h"

FrameParse ParseStbFrame(const uint8_t* pBytes, size_t nCount, CStbFrame& frame, size_t& nUsed, const char*& pszWhy)
{
    nUsed = 0;
    if (nCount == 0)
        return FrameParse::NeedMore;
    if (pBytes[0] != kSyncByte) {
        pszWhy = "a frame without its sync byte";
        return FrameParse::Bad;
    }
    if (nCount < 3)
        return FrameParse::NeedMore;
    const size_t nLen = GetU16LE(pBytes + 1);
    if (nLen < 2) {
        pszWhy = "a frame with a length below 2";
        return FrameParse::Bad;
    }
    if (nCount < nLen + 3)
        return FrameParse::NeedMore;
    if (CalcChecksum(pBytes + 3, nLen - 1) != pBytes[nLen + 2]) {
        pszWhy = "a frame with a wrong checksum";
        return FrameParse::Bad;
    }
    frame.ucCmd = pBytes[3];
    frame.pPayload = pBytes + 4;
    frame.nLength = nLen - 2;
    nUsed = nLen + 3;
    return FrameParse::Good;
}

CStbFrameBuf::CStbFrameBuf() : m_pBuf(new uint8_t[kStbMaxFrame]) {}

size_t CStbFrameBuf::Seal(uint8_t ucCmd, size_t nLength)
{
    if (nLength > kStbMaxPayload)
        return 0;
    uint8_t* p = m_pBuf.get();
    const uint16_t usLen = static_cast<uint16_t>(nLength + 2);
    p[0] = kSyncByte;
    PutU16LE(p + 1, usLen);
    p[3] = ucCmd;
    p[4 + nLength] = CalcChecksum(p + 3, nLength + 1);
    return nLength + kStbFrameOverhead;
}
