// putdir: the directory upload transaction. FC_DIR_UP_REQ names the receiving folder; each
// entry follows with RS_FILE_UP_REQ (parents before children) and a file's bytes with
// RS_DATA_UP_REQ. The daemon joins the receiving folder and an entry's name with nothing
// between them, so the folder is sent with its trailing '/'.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "net/wire.h"
#include "tools/local_file.h"
#include "tools/progress.h"
#include "tools/stb_cmds.h"
#include "tools/stb_conn.h"
#include "tools/stb_paths.h"
#include "net/protocol.h"
#include "tools/stb_report.h"
#include "tools/stb_xfer.h"

namespace fs = std::filesystem;

namespace {

struct CUpEntry {
    std::string strName;   // as sent: relative to the receiving folder
    std::string strLocal;  // empty for a folder
    uint64_t ullSize = 0;
};

// Lists the local tree below strDir, parents before children, names sorted. Files of
// 4 GiB and more and names with a '\' (a separator to the daemon) stop the upload before
// it starts; what is neither a file nor a folder is left out with a message. 0, or the
// exit status after the message.
int CollectTree(const CStbOptions& opt, const fs::path& dir, const std::string& strPrefix,
                std::vector<CUpEntry>& entries, int& nSkipped)
{
    std::error_code ec;
    std::vector<fs::path> children;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        children.push_back(it->path());
    if (ec)
        return Report(opt, kExitFailed, "cannot read the folder " + dir.string() + ": " + ec.message());
    std::sort(children.begin(), children.end());
    for (const fs::path& child : children) {
        const std::string strLeaf = child.filename().string();
        const std::string strName = strPrefix.empty() ? strLeaf : strPrefix + "/" + strLeaf;
        if (strLeaf.find('\\') != std::string::npos)
            return Report(opt, kExitFailed, "cannot send " + child.string() + ": the daemon takes '\\' as a separator");
        const fs::file_status linkStatus = fs::symlink_status(child, ec);
        const fs::file_status status = fs::status(child, ec);
        if (fs::is_directory(linkStatus)) {
            entries.push_back(CUpEntry{strName, "", 0});
            if (int rc = CollectTree(opt, child, strName, entries, nSkipped))
                return rc;
        } else if (fs::is_regular_file(status)) {
            const uintmax_t ullSize = fs::file_size(child, ec);
            if (ec)
                return Report(opt, kExitFailed, "cannot read " + child.string() + ": " + ec.message());
            if (ullSize > UINT32_MAX)
                return Report(opt, kExitFailed,
                              "cannot send " + child.string() + ": files of a folder upload must be below 4 GiB");
            entries.push_back(CUpEntry{strName, child.string(), ullSize});
        } else {
            Report(opt, kExitFailed, "left out " + child.string() + ": neither a file nor a folder");
            ++nSkipped;
        }
    }
    return 0;
}

// Sends one entry. 0, or the exit status after the message.
int SendEntry(const CStbOptions& opt, CStbConn& conn, const CUpEntry& entry, CProgress& progress)
{
    const bool bFolder = entry.strLocal.empty();
    FilePtr pFile;
    if (!bFolder) {
        uint64_t ullSize = 0;
        std::string strError;
        if (OpenToSend(entry.strLocal, pFile, ullSize, strError) != 0)
            return Report(opt, kExitFailed, strError);
    }
    std::vector<uint8_t> payload(5);
    payload[0] = bFolder ? kEntryFolder : kEntryFile;
    PutU32LE(payload.data() + 1, static_cast<uint32_t>(entry.ullSize));
    AppendCString(payload, entry.strName);
    CFrameView reply;
    if (conn.Exchange(RS_FILE_UP_REQ, payload, RS_FILE_UP_REP, 5, reply) != 0)
        return ReportConn(opt, conn);
    const uint8_t ucStatus = reply.pPayload[0];
    if (ucStatus != kStatusDone)
        return ReportStatus(opt, ucStatus, bFolder ? "the folder could not be made" : "the file could not be made",
                            entry.strName);
    if (GetU32LE(reply.pPayload + 1) != entry.ullSize)
        return Report(opt, kExitConn, entry.strName + ": the daemon took the entry with another size");
    if (bFolder)
        return 0;
    std::string strWhy;
    const CUpKind kind{RS_DATA_UP_REQ, RS_DATA_UP_REP, 4, kUpBlock32};
    const XferResult eResult = SendBlocks(conn, kind, pFile.get(), entry.ullSize, &progress, strWhy);
    if (eResult != XferResult::Done)
        return Report(opt, ExitFor(eResult), entry.strName + ": " + strWhy);
    return 0;
}

}  // namespace

int CmdPutdir(const CStbOptions& opt)
{
    const std::string& strLocalDir = opt.arrArgs[0];
    const std::string& strPath = opt.arrArgs[1];
    std::error_code ec;
    if (!fs::is_directory(strLocalDir, ec))
        return Report(opt, kExitFailed, "cannot send " + strLocalDir + ": not a folder");

    // The receiving folder is PATH's parent, and PATH itself the first entry; the shared
    // folder itself receives the tree's entries directly.
    std::string strUpDir = "/", strLeaf;
    std::vector<CUpEntry> entries;
    if (!IsSharedRoot(strPath)) {
        std::string strParent;
        SplitStbPath(strPath, strParent, strLeaf);
        if (!strParent.empty())
            strUpDir = strParent;
        entries.push_back(CUpEntry{strLeaf, "", 0});
    }
    int nSkipped = 0;
    if (int rc = CollectTree(opt, strLocalDir, strLeaf, entries, nSkipped))
        return rc;
    uint64_t ullTotal = 0;
    for (const CUpEntry& e : entries)
        ullTotal += e.ullSize;

    CStbConn conn;
    if (int rc = OpenConn(opt, conn))
        return rc;
    std::vector<uint8_t> payload(13);
    PutU32LE(payload.data() + 1, static_cast<uint32_t>(entries.size()));
    PutU64LE(payload.data() + 5, ullTotal);
    AppendCString(payload, strUpDir);
    CFrameView reply;
    if (conn.Exchange(FC_DIR_UP_REQ, payload, FC_DIR_UP_REP, 1, reply) != 0)
        return ReportConn(opt, conn);
    if (reply.pPayload[0] != kStatusDone)
        return ReportStatus(opt, reply.pPayload[0], "the daemon refused the path, or lacks the room for the tree");

    CProgress progress(ProgressWanted(opt), StbBaseName(strLocalDir), ullTotal);
    for (const CUpEntry& e : entries)
        if (int rc = SendEntry(opt, conn, e, progress))
            return rc;
    progress.Finish();
    conn.Close(false);  // the last block was answered once its file was complete
    if (nSkipped != 0)
        return Report(opt, kExitFailed, std::to_string(nSkipped) + " entries were left out");
    return kExitDone;
}
