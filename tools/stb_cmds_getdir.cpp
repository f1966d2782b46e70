// getdir: the directory download transaction. FC_DIR_DN_REQ lists the tree on the daemon's
// side; RS_FILE_DN_REQ opens each entry by its index, RS_DATA_REQ fetches a file's bytes;
// with --move, RS_AFTER_MOVE_REQ then deletes what was taken.
#include <cstring>
#include <filesystem>

#include "net/wire.h"
#include "tools/local_file.h"
#include "tools/progress.h"
#include "tools/stb_cmds.h"
#include "tools/stb_conn.h"
#include "tools/stb_listing.h"
#include "tools/stb_paths.h"
#include "net/protocol.h"
#include "tools/stb_report.h"

namespace fs = std::filesystem;

namespace {

struct CDnEntry {
    uint8_t ucStatus = 0;
    uint64_t ullSize = 0;
    bool bBig = false;  // the long form (a size of 0, or of 4 GiB and more)
    std::string strName;
};

// The entry reply carries a 32-bit size, or a 64-bit one in the long form; the name ends
// the payload with its 0 byte. A 32-bit reading leaves no 0 byte inside the name, which
// the high bytes of a 64-bit size below 2^56 always put there.
bool ParseEntry(const CFrameView& reply, CDnEntry& entry)
{
    for (int nWidth : {4, 8}) {
        const size_t nFixed = 1 + static_cast<size_t>(nWidth);
        if (reply.nPayload < nFixed + 1 || reply.pPayload[reply.nPayload - 1] != 0)
            continue;
        const char* pszName = reinterpret_cast<const char*>(reply.pPayload + nFixed);
        const size_t nName = reply.nPayload - nFixed - 1;
        if (strnlen(pszName, nName) != nName)
            continue;
        entry.ucStatus = reply.pPayload[0];
        entry.bBig = nWidth == 8;
        entry.ullSize = GetLE(reply.pPayload + 1, nWidth);
        entry.strName.assign(pszName, nName);
        return true;
    }
    return false;
}

class CDirDownload {
public:
    CDirDownload(const CStbOptions& opt, CStbConn& conn, const std::string& strLocalDir)
        : m_Opt(opt), m_Conn(conn), m_strLocalDir(strLocalDir)
    {
    }

    // Fetches entry ulIndex. 0 when it arrived, kExitFailed when it did not (reported; the
    // next entries may still come), kExitConn when the transaction cannot go on.
    int Fetch(uint32_t ulIndex, CProgress& progress)
    {
        uint8_t request[4];
        PutU32LE(request, ulIndex);
        CFrameView reply;
        if (m_Conn.Send(RS_FILE_DN_REQ, request, 4) != 0 || m_Conn.Receive(reply) != 0)
            return ReportConn(m_Opt, m_Conn);
        CDnEntry entry;
        if (reply.ucCommand != RS_FILE_DN_REP || !ParseEntry(reply, entry))
            return Report(m_Opt, kExitConn,
                          "the daemon answered entry " + std::to_string(ulIndex) + " with frame " +
                              HexByte(reply.ucCommand) + " of " + std::to_string(reply.nPayload) + " bytes");
        std::string strRelative;
        if (!SafeRelativePath(entry.strName, strRelative))
            return Report(m_Opt, kExitConn, "the daemon sent an entry that leaves the folder: " + entry.strName);
        const fs::path local = strRelative.empty() ? fs::path(m_strLocalDir) : fs::path(m_strLocalDir) / strRelative;
        std::error_code ec;
        if (entry.strName.back() == '/') {
            fs::create_directories(local, ec);
            if (ec)
                return Report(m_Opt, kExitFailed, "cannot make " + local.string() + ": " + ec.message());
            return 0;
        }
        if (entry.ucStatus != kStatusDone)
            return ReportStatus(m_Opt, entry.ucStatus, nullptr, entry.strName);
        if (entry.bBig && entry.ullSize > UINT32_MAX)
            return Report(m_Opt, kExitFailed,
                          entry.strName + ": " + std::to_string(entry.ullSize) +
                              " bytes, more than a folder download can carry (use get)");
        fs::create_directories(local.parent_path(), ec);
        CLocalFile file;
        file.PlanFresh(local.string());
        if (file.Open() != 0)
            return Report(m_Opt, kExitFailed, file.Error());
        std::string strWhy;
        XferResult eResult =
            FetchRange(m_Conn, DirDataKind(m_Opt.bSmallFrames), 0, entry.ullSize, file, &progress, strWhy);
        if (eResult != XferResult::Done) {
            file.Abandon(false);
            return Report(m_Opt, ExitFor(eResult), entry.strName + ": " + strWhy);
        }
        if (file.Commit() != 0)
            return Report(m_Opt, kExitFailed, file.Error());
        return 0;
    }

private:
    const CStbOptions& m_Opt;
    CStbConn& m_Conn;
    std::string m_strLocalDir;
};

// Asks the daemon to delete the first ulCount entries, then looks (on a connection of its
// own, as the transaction's ends only when its connection does) whether the tree is gone.
int AfterMove(const CStbOptions& opt, CStbConn& conn, const std::string& strPath, uint32_t ulCount)
{
    CFrameView reply;
    if (conn.Exchange(RS_AFTER_MOVE_REQ, U32Payload(ulCount), RS_AFTER_MOVE_REP, 5, reply) != 0)
        return ReportConn(opt, conn);
    if (GetU32LE(reply.pPayload + 1) != ulCount)
        return Report(opt, kExitConn, "the daemon confirmed the move of a different number of entries");
    conn.Close(false);

    CStbConn check;
    std::vector<CListEntry> entries;
    uint8_t ucStatus = 0;
    if (int rc = ConnectAndFetchListing(opt, check, strPath, entries, ucStatus))
        return rc;
    check.Close(true);
    if (ucStatus != kStatusDone || (IsSharedRoot(strPath) && entries.size() <= 2))
        return kExitDone;
    return Report(opt, kExitFailed, "failed (every entry arrived, but the daemon could not delete all of the tree)");
}

}  // namespace

int CmdGetdir(const CStbOptions& opt)
{
    const std::string strPath = TrimTrailingSeparators(opt.arrArgs[0]);
    const std::string& strLocalDir = opt.arrArgs[1];
    const bool bMove = (opt.uCmdOptions & kOptMove) != 0;
    std::error_code ec;
    fs::create_directories(strLocalDir, ec);
    if (ec || !fs::is_directory(strLocalDir, ec))
        return Report(opt, kExitFailed, "cannot make the folder " + strLocalDir);

    CStbConn conn;
    if (int rc = OpenConn(opt, conn))
        return rc;
    CFrameView reply;
    if (conn.Exchange(FC_DIR_DN_REQ, PathPayload(strPath), FC_DIR_DN_REP, 13, reply) != 0)
        return ReportConn(opt, conn);
    const uint32_t ulCount = GetU32LE(reply.pPayload + 1);
    const uint64_t ullTotal = GetU64LE(reply.pPayload + 5);
    if (ulCount == 0)
        return Report(opt, kExitFailed, "failed (no such folder, or the daemon refused the path)");

    CDirDownload download(opt, conn, strLocalDir);
    CProgress progress(ProgressWanted(opt), StbBaseName(strPath), ullTotal);
    uint32_t ulFailed = 0;
    for (uint32_t i = 0; i < ulCount; ++i) {
        const int rc = download.Fetch(i, progress);
        if (rc == kExitConn)
            return rc;
        if (rc != 0)
            ++ulFailed;
    }
    progress.Finish();
    if (ulFailed != 0)
        return Report(opt, kExitFailed,
                      std::to_string(ulFailed) + " of " + std::to_string(ulCount) + " entries did not arrive" +
                          (bMove ? "; nothing was deleted on the daemon's side" : ""));
    if (bMove)
        return AfterMove(opt, conn, strPath, ulCount);
    conn.Close(false);
    return kExitDone;
}
