#include "net/xferctx.h"

#include "platform/log.h"

void CXferCtx::ReleaseBin()
{
    pBin.reset();
    nBinSize = 0;
    if (bUploading && bUpBuffered)
        AbandonUpload();
}

void CXferCtx::CloseFile()
{
    if (bUploading && !bUpBuffered)
        AbandonUpload();  // removed while its lock is still held
    hFile.Close();
}

void CXferCtx::ReleaseEarlier(int nBinLine, int nFileLine)
{
    if (pBin) {
        plat::Trace("E %s %d\n", "ip", nBinLine);
        ReleaseBin();
    }
    if (hFile.IsOpen()) {
        plat::Trace("E %s %d\n", "ip", nFileLine);
        CloseFile();
    }
}

void CXferCtx::AbandonUpload()
{
    plat::CPlatFile& held = bUpBuffered ? hUpFile : hFile;
    if (held.IsOpen()) {
        plat::RemoveHeldFile(strUpPath);
        held.Close();
    } else {
        plat::DeleteFile(strUpPath);
    }
    bUploading = false;
    bUpBuffered = false;
    bUpFailed = false;
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
    return width == SizeWidth::Bits32 ? nXferSize : ullXferSize;
}

void CXferCtx::ReleaseAtEnd()
{
    ReleaseBin();
    CloseFile();
    if (bUploading)
        AbandonUpload();
}
