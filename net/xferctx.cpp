#include "net/xferctx.h"

#include <new>

#include "net/budget.h"
#include "platform/log.h"

bool CXferCtx::TakeBin(uint64_t n, bool bZeroed)
{
    CBufferBudget* pBudget = options.pBudget;
    if (n > SIZE_MAX || (pBudget != nullptr && !pBudget->Take(n)))
        return false;
    uint8_t* p = bZeroed ? new (std::nothrow) uint8_t[n]() : new (std::nothrow) uint8_t[n];
    if (p == nullptr) {
        if (pBudget != nullptr)
            pBudget->Give(n);
        return false;
    }
    pBin.reset(p);
    nBinSize = n;
    return true;
}

void CXferCtx::ReleaseBin()
{
    // pBin is only ever taken by TakeBin, so what it holds is what was charged.
    if (pBin && options.pBudget != nullptr)
        options.pBudget->Give(nBinSize);
    pBin.reset();
    nBinSize = 0;
    if (upload.bUploading && upload.bBuffered)
        upload.Abandon(hFile);
}

void CXferCtx::CloseFile()
{
    if (upload.bUploading && !upload.bBuffered)
        upload.Abandon(hFile);  // removed while its lock is still held
    hFile.Close();
}

void CXferCtx::ReleaseEarlier(ErrLine eHeldBuffer, ErrLine eHeldFile)
{
    if (pBin) {
        TraceErrLine(eHeldBuffer);
        ReleaseBin();
    }
    if (hFile.IsOpen()) {
        TraceErrLine(eHeldFile);
        CloseFile();
    }
}

void CXferCtx::RecordSize(SizeWidth width, uint64_t ullSize)
{
    if (width == SizeWidth::Bits32)
        nXferSize = static_cast<uint32_t>(ullSize);
    else
        ullXferSize = ullSize;
    eRecordedWidth = width;
}

uint64_t CXferCtx::HeldSize() const
{
    if (pBin)
        return nBinSize;
    if (hFile.IsOpen()) {
        int64_t llLength = hFile.Length();
        return llLength > 0 ? static_cast<uint64_t>(llLength) : 0;
    }
    return 0;
}

uint64_t CXferCtx::DataLimit(SizeWidth width) const
{
    if (width != eRecordedWidth)
        return HeldSize();
    return RecordedSize(width);
}

void CXferCtx::ReleaseAtEnd()
{
    ReleaseBin();
    CloseFile();
    if (upload.bUploading)
        upload.Abandon(hFile);
    if (!dirBatch.Empty())
        dirBatch.Flush();
}
