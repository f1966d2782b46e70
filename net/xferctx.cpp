#include "net/xferctx.h"

void CXferCtx::ReleaseAtEnd()
{
    ReleaseBin();
    hFile.Close();
    if (bUploading) {
        plat::DeleteFile(strUpPath);
        bUploading = false;
    }
}
