// rm, mkdir, rmdir, cp and mv: file and folder management on the daemon's side.
#include <chrono>
#include <thread>

#include "tools/stb_cmds.h"
#include "tools/stb_conn.h"
#include "tools/stb_listing.h"
#include "net/protocol.h"
#include "tools/stb_report.h"

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(100);

// One request with one path, answered by one status byte. 0, or the exit status after
// the message.
int SendPathCommand(const CStbOptions& opt, CStbConn& conn, uint8_t ucRequest)
{
    if (int rc = OpenConn(opt, conn))
        return rc;
    CFrameView reply;
    if (conn.Exchange(ucRequest, PathPayload(opt.arrArgs[0]), ReplyByte(ucRequest), 1, reply) != 0)
        return ReportConn(opt, conn);
    if (reply.pPayload[0] != kStatusDone)
        return ReportStatus(opt, reply.pPayload[0]);
    return 0;
}

int RunPathCommand(const CStbOptions& opt, uint8_t ucRequest)
{
    CStbConn conn;
    if (int rc = SendPathCommand(opt, conn, ucRequest))
        return rc;
    conn.Close(true);
    return kExitDone;
}

// A copy or move runs on the daemon's side; the same request, repeated on the same
// connection, reports its status until it is no longer running.
int RunCopyMove(const CStbOptions& opt, uint8_t ucRequest)
{
    const std::string& strSrc = opt.arrArgs[0];
    const std::string& strDst = opt.arrArgs[1];
    std::vector<uint8_t> payload(1, 0);
    AppendCString(payload, strSrc);
    AppendCString(payload, strDst);

    CStbConn conn;
    if (int rc = OpenConn(opt, conn))
        return rc;
    CFrameView reply;
    for (;;) {
        if (conn.Exchange(ucRequest, payload, ReplyByte(ucRequest), 1, reply) != 0)
            return ReportConn(opt, conn);
        if (reply.pPayload[0] != kStatusRunning)
            break;
        std::this_thread::sleep_for(kPollInterval);
    }
    const uint8_t ucStatus = reply.pPayload[0];
    conn.Close(true);
    if (ucStatus != kStatusDone)
        return ReportStatus(opt, ucStatus);
    return kExitDone;
}

}  // namespace

int CmdRm(const CStbOptions& opt) { return RunPathCommand(opt, FC_FILE_DEL_REQ); }

int CmdMkdir(const CStbOptions& opt) { return RunPathCommand(opt, FC_MKDIR_REQ); }

int CmdRmdir(const CStbOptions& opt)
{
    CStbConn conn;
    if (int rc = SendPathCommand(opt, conn, FC_RMDIR_REQ))
        return rc;
    // The daemon calls a tree deleted even when something in it stayed (a read-only file,
    // a file in use), or when the path is a file: only a path that is gone is done.
    std::vector<CListEntry> entries;
    uint8_t ucStatus = 0;
    if (int rc = FetchListing(opt, conn, opt.arrArgs[0], entries, ucStatus))
        return rc;
    if (ucStatus == kStatusDone)
        return Report(opt, kExitFailed, "failed (the daemon could not delete everything: the folder is still there)");
    CFrameView reply;
    if (conn.Exchange(FC_FILE_SIZE_REQ, PathPayload(opt.arrArgs[0]), FC_FILE_SIZE_REP, 1, reply) != 0)
        return ReportConn(opt, conn);
    if (reply.pPayload[0] == kStatusDone)
        return Report(opt, kExitFailed, "failed (a file, not a folder: use rm)");
    conn.Close(true);
    return kExitDone;
}

int CmdCp(const CStbOptions& opt) { return RunCopyMove(opt, FC_FILE_CPY_REQ); }

int CmdMv(const CStbOptions& opt) { return RunCopyMove(opt, FC_FILE_MOV_REQ); }
