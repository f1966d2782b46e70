// get: FC_FILE_DN_REQ, then the file's bytes by range with FC_DATA_REQ (32-bit size) or
// FC_BIGFILE_DATA_REQ (64-bit size).
#include <filesystem>

#include "net/wire.h"
#include "tools/local_file.h"
#include "tools/progress.h"
#include "tools/stb_cmds.h"
#include "tools/stb_conn.h"
#include "tools/stb_paths.h"
#include "net/protocol.h"
#include "tools/stb_report.h"
#include "tools/stb_usage.h"

namespace {

struct COpenedFile {
    uint64_t ullSize = 0;
    bool bBig = false;  // the long form: the size is 64-bit and so are the data requests
};

// Opens the file on the daemon's side. 0, or the exit status after the message.
int OpenRemote(const CStbOptions& opt, CStbConn& conn, const std::string& strPath, COpenedFile& file)
{
    CFrameView reply;
    const std::vector<uint8_t> payload = PathPayload(strPath);
    if (conn.Send(FC_FILE_DN_REQ, payload.data(), payload.size()) != 0 || conn.Receive(reply) != 0)
        return ReportConn(opt, conn);
    const bool bLong = reply.ucCommand == FC_FILE_DN_REP_LONG;
    if ((reply.ucCommand != FC_FILE_DN_REP && !bLong) || reply.nPayload != (bLong ? 9u : 5u))
        return Report(opt, kExitConn,
                      "the daemon answered the download with frame " + HexByte(reply.ucCommand) + " of " +
                          std::to_string(reply.nPayload) + " bytes");
    if (reply.pPayload[0] != kStatusDone)
        return ReportStatus(opt, reply.pPayload[0]);
    file.bBig = bLong;
    file.ullSize = GetLE(reply.pPayload + 1, bLong ? 8 : 4);
    return 0;
}

// Where LOCAL points: a folder receives the file under its name on the daemon's side.
int ResolveLocal(const CStbOptions& opt, std::string& strLocal)
{
    const std::string strName = StbBaseName(opt.arrArgs[0]);
    strLocal = opt.arrArgs.size() > 1 ? opt.arrArgs[1] : strName;
    std::error_code ec;
    if (strLocal != "-" && std::filesystem::is_directory(strLocal, ec))
        strLocal = strName.empty() ? std::string() : (std::filesystem::path(strLocal) / strName).string();
    if (strLocal.empty())
        return ReportUsage("get: " + opt.arrArgs[0] + " names no file; give LOCAL");
    return 0;
}

}  // namespace

int CmdGet(const CStbOptions& opt)
{
    const std::string& strPath = opt.arrArgs[0];
    std::string strLocal;
    if (int rc = ResolveLocal(opt, strLocal))
        return rc;
    const bool bToStdout = strLocal == "-";
    const bool bResume = (opt.uCmdOptions & kOptOffset) != 0;
    const uint64_t ullOffset = opt.ullOffset;

    // The local side is checked before the daemon is asked; standard output takes the
    // bytes as they arrive.
    CLocalFile local;
    std::string strError;
    if (!bToStdout && !bResume)
        local.PlanFresh(strLocal);
    else if (!bToStdout && local.PlanResume(strLocal, ullOffset, strError) != 0)
        return Report(opt, kExitFailed, strError);

    CStbConn conn;
    if (int rc = OpenConn(opt, conn))
        return rc;
    COpenedFile file;
    if (int rc = OpenRemote(opt, conn, strPath, file))
        return rc;
    if (ullOffset > file.ullSize)
        return Report(opt, kExitFailed,
                      "offset " + std::to_string(ullOffset) + " lies past the end of the file (" +
                          std::to_string(file.ullSize) + " bytes)");
    uint64_t ullCount = file.ullSize - ullOffset;
    if ((opt.uCmdOptions & kOptLength) != 0 && opt.ullLength < ullCount)
        ullCount = opt.ullLength;

    CStdoutSink out;
    if (!bToStdout && local.Open() != 0)
        return Report(opt, kExitFailed, local.Error());
    CByteSink& sink = bToStdout ? static_cast<CByteSink&>(out) : local;
    CProgress progress(ProgressWanted(opt), StbBaseName(strPath), ullCount);
    std::string strWhy;
    const XferResult eResult =
        FetchRange(conn, FileDataKind(file.bBig, opt.bSmallFrames), ullOffset, ullCount, sink, &progress, strWhy);
    progress.Finish();
    if (eResult != XferResult::Done) {
        if (!bToStdout) {
            local.Abandon(true);
            if (local.Size() > 0)
                strWhy += "; " + local.WorkPath() + " keeps the first " + std::to_string(local.Size()) +
                          " bytes (resume with --offset " + std::to_string(local.Size()) + ")";
        }
        return Report(opt, ExitFor(eResult), strWhy);
    }
    conn.Close(true);
    if (!bToStdout && local.Commit() != 0)
        return Report(opt, kExitFailed, local.Error());
    return kExitDone;
}
