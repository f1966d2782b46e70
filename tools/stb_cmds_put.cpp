// put: FC_FILE_UP_REQ (32-bit size) or FC_BIGFILE_UP_REQ (64-bit size), then the blocks
// with FC_DATA_UP_REQ or FC_BIGFILE_DATA_UP_REQ, then FC_FILE_SIZE_REQ to see that the
// daemon kept the file.
#include <filesystem>

#include "net/wire.h"
#include "tools/local_file.h"
#include "tools/progress.h"
#include "tools/stb_cmds.h"
#include "tools/stb_conn.h"
#include "tools/stb_paths.h"
#include "net/protocol.h"
#include "tools/stb_report.h"
#include "tools/stb_xfer.h"

namespace {

std::vector<uint8_t> OpenPayload(uint64_t ullSize, bool bBig, const std::string& strPath)
{
    const int nWidth = bBig ? 8 : 4;
    std::vector<uint8_t> payload(1 + nWidth);
    PutLE(payload.data() + 1, ullSize, nWidth);
    AppendCString(payload, strPath);
    return payload;
}

// Asks the daemon for the size of the file it now holds: the upload is done only when the
// file is there at the size sent.
int CheckKept(const CStbOptions& opt, CStbConn& conn, const std::string& strPath, uint64_t ullSize)
{
    CFrameView reply;
    if (conn.Exchange(FC_FILE_SIZE_REQ, PathPayload(strPath), FC_FILE_SIZE_REP, 5, reply) != 0)
        return ReportConn(opt, conn);
    if (reply.pPayload[0] != kStatusDone)
        return Report(opt, kExitFailed, "failed (the daemon did not keep the file)");
    const uint64_t ullKept = GetLE(reply.pPayload + 1, reply.nPayload >= 9 ? 8 : 4);
    if (ullKept != ullSize)
        return Report(opt, kExitFailed,
                      "failed (the daemon holds " + std::to_string(ullKept) + " bytes instead of " +
                          std::to_string(ullSize) + ")");
    return 0;
}

}  // namespace

int CmdPut(const CStbOptions& opt)
{
    const std::string& strLocal = opt.arrArgs[0];
    std::string strPath = opt.arrArgs[1];
    if (strPath.back() == '/')
        strPath += std::filesystem::path(strLocal).filename().string();

    FilePtr pFile;
    uint64_t ullSize = 0;
    std::string strError;
    if (OpenToSend(strLocal, pFile, ullSize, strError) != 0)
        return Report(opt, kExitFailed, strError);
    const bool bBig = (opt.uCmdOptions & kOptBig) != 0 || ullSize > UINT32_MAX;

    CStbConn conn;
    if (int rc = OpenConn(opt, conn))
        return rc;
    CFrameView reply;
    const uint8_t ucOpen = bBig ? FC_BIGFILE_UP_REQ : FC_FILE_UP_REQ;
    if (conn.Exchange(ucOpen, OpenPayload(ullSize, bBig, strPath), bBig ? FC_FILE_UP_REP_ALT : FC_FILE_UP_REP,
                      1, reply) != 0)
        return ReportConn(opt, conn);
    if (reply.pPayload[0] != kStatusDone)
        return ReportStatus(opt, reply.pPayload[0]);

    const CUpKind kind = bBig ? CUpKind{FC_BIGFILE_DATA_UP_REQ, FC_DATA_UP_REP, 8, kUpBlock64}
                              : CUpKind{FC_DATA_UP_REQ, FC_DATA_UP_REP, 4, kUpBlock32};
    CProgress progress(ProgressWanted(opt), StbBaseName(strPath), ullSize);
    std::string strWhy;
    const XferResult eResult = SendBlocks(conn, kind, pFile.get(), ullSize, &progress, strWhy);
    progress.Finish();
    if (eResult != XferResult::Done)
        return Report(opt, ExitFor(eResult), strWhy);  // the daemon drops the unfinished file
    if (int rc = CheckKept(opt, conn, strPath, ullSize))
        return rc;
    conn.Close(true);
    return kExitDone;
}
