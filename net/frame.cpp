#include "net/frame.h"

#include "net/wire.h"

uint8_t CalcChecksum(const uint8_t* pBytes, size_t nCount)
{
    // A plain byte sum: the compiler vectorises it over a 32 KiB data frame.
    uint32_t ulSum = 0x3E;
    for (size_t i = 0; i < nCount; ++i)
        ulSum += pBytes[i];
    return static_cast<uint8_t>(ulSum);
}

namespace {

CFrameView Need(size_t nMissing, uint16_t usLength = 0)
{
    CFrameView view;
    view.nBytes = nMissing;
    view.usLength = usLength;
    return view;
}

CFrameView Drop(size_t nBytes, FrameFault eFault, uint16_t usLength = 0)
{
    CFrameView view;
    view.eScan = FrameScan::Drop;
    view.nBytes = nBytes;
    view.eFault = eFault;
    view.usLength = usLength;
    return view;
}

}  // namespace

CFrameView ScanFrame(const uint8_t* pBytes, size_t nCount)
{
    if (nCount == 0)
        return Need(1);
    // Hunting for a sync byte goes on byte by byte.
    if (pBytes[0] != kSyncByte)
        return Drop(1, FrameFault::NoSync);
    if (nCount < kFrameHeader)
        return Need(kFrameHeader - nCount);
    const uint16_t usLength = GetU16LE(pBytes + 1);
    if (usLength < 2)
        return Drop(kFrameHeader, FrameFault::BadLength, usLength);
    const size_t nSize = usLength + static_cast<size_t>(kFrameHeader);
    if (nCount < nSize)
        return Need(nSize - nCount, usLength);
    if (CalcChecksum(pBytes + kFrameHeader, usLength - 1u) != pBytes[nSize - 1])
        return Drop(nSize, FrameFault::BadChecksum, usLength);
    CFrameView view;
    view.eScan = FrameScan::Whole;
    view.nBytes = nSize;
    view.usLength = usLength;
    view.ucCommand = pBytes[kFrameHeader];
    view.pPayload = pBytes + kPayloadOffset;
    view.nPayload = usLength - 2u;
    return view;
}

size_t SealFrame(uint8_t* pFrame, uint8_t ucCommand, size_t nPayload)
{
    if (nPayload > static_cast<size_t>(kMaxPayload))
        return 0;
    const uint16_t usLength = static_cast<uint16_t>(nPayload + 2);
    pFrame[0] = kSyncByte;
    PutU16LE(pFrame + 1, usLength);
    pFrame[kFrameHeader] = ucCommand;
    pFrame[kPayloadOffset + nPayload] = CalcChecksum(pFrame + kFrameHeader, nPayload + 1);
    return nPayload + kFrameOverhead;
}
