#include "xfer/dirdown.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "fs/ownpath.h"
#include "fs/path.h"
#include "fs/pathreq.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/transferstatus.h"
#include "net/wire.h"
#include "net/xferctx.h"
#include "platform/dir.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/tree.h"
#include "xfer/download.h"

namespace {

// One folder of the walk: its entries, and how far they have been taken.
struct CTreeLevel {
    std::string strDir;
    std::vector<plat::FindEntry> entries;
    size_t nNext = 0;
};

// The entry of a local path, unless the STB cannot be shown it (a folder's line names it
// without its trailing '/', which every usable code page holds).
bool TakeEntry(CSess& sess, CStbNames* pNames, const std::string& strPath, std::string& strEntry)
{
    strEntry = GetRelativePath(sess, strPath);
    std::string_view name = strEntry;
    if (!name.empty() && name.back() == '/')
        name.remove_suffix(1);
    return pNames == nullptr || pNames->Shows(name, sess.m_strBaseDir);
}

// Lists the folder as an entry and puts it on the walk; left out (and all below it) when
// it cannot be read or the STB cannot be shown its name. False when the list has no room
// for the entry.
bool EnterFolder(CSess& sess, const plat::CShare& share, CStbNames* pNames, std::string strDir,
                 std::vector<CTreeLevel>& walk)
{
    if (strDir.size() >= plat::kMaxPathBytes)
        return true;  // the system could not open anything below it
    std::string strEntry;
    if (!TakeEntry(sess, pNames, strDir, strEntry))
        return true;
    CTreeLevel level;
    if (plat::EnumDirectory(share, strDir, level.entries) != 0)
        return true;
    if (!sess.m_arrFiles.push_back(strEntry))
        return false;
    level.strDir = std::move(strDir);
    walk.push_back(std::move(level));
    return true;
}

// The walk itself; false as soon as the list has no room for an entry.
bool WalkTree(CSess& sess, const plat::CShare& share, const std::string& strDir, CStbNames* pNames)
{
    // Depth first, each folder's entries in their order, as a recursion would list them.
    std::vector<CTreeLevel> walk;
    std::string strEntry;
    if (!EnterFolder(sess, share, pNames, strDir, walk))
        return false;
    while (!walk.empty()) {
        CTreeLevel& level = walk.back();
        if (level.nNext == level.entries.size()) {
            walk.pop_back();
            continue;
        }
        const plat::FindEntry& e = level.entries[level.nNext++];
        if (e.strName == "." || e.strName == "..")
            continue;
        if (e.bOwn)
            continue;  // the daemon's own files are left out, as names not shown are
        std::string strPath = level.strDir + e.strName;
        if (e.bDir) {
            // A link to a folder is not part of the tree.
            if (!e.bLink && !EnterFolder(sess, share, pNames, strPath + "/", walk))
                return false;
        } else if (TakeEntry(sess, pNames, strPath, strEntry)) {
            if (!sess.m_arrFiles.push_back(strEntry))
                return false;
            sess.m_ullTotal += e.ullSize;
        }
    }
    return true;
}

}  // namespace

int ListTree(CSess& sess, const plat::CShare& share, const std::string& strDir, CStbNames* pNames)
{
    if (pNames != nullptr && !pNames->Converts())
        pNames = nullptr;  // every name can be shown
    if (WalkTree(sess, share, strDir, pNames))
        return 0;
    // A list that cannot be held whole is no list: the transaction finds nothing.
    sess.m_arrFiles.clear();
    sess.m_ullTotal = 0;
    return -1;
}

static bool IsFolderEntry(std::string_view strEntry) { return !strEntry.empty() && strEntry.back() == '/'; }

void AfterMoveDir(CSess& sess, const plat::CShare& share, int nCount)
{
    if (nCount < 0)
        return;
    plat::Trace("AfterMoveDir Index : %d\n", nCount);
    const size_t m = std::min(static_cast<size_t>(nCount), sess.m_arrFiles.size());
    const std::string strBase = GetBaseDir(sess);
    // Every entry is reached from the base folder with no link followed below it: a
    // folder of the tree swapped for a link since the listing leads nowhere.
    plat::CListedTree tree(share, strBase);
    for (size_t i = 0; i < m; ++i) {
        if (IsFolderEntry(sess.m_arrFiles[i]))
            continue;
        const std::string strEntry(sess.m_arrFiles[i]);
        const std::string strPath = strBase + strEntry;
        plat::Trace("DeleteFile : %s\n", strPath.c_str());
        if (int rc = tree.DeleteFile(strEntry); rc != 0) {
            plat::Trace("Error Code : %d \n", -rc);
            plat::Trace("DeleteFile fail : %s\n", strPath.c_str());
        }
    }
    for (size_t i = m; i-- > 0;) {
        if (!IsFolderEntry(sess.m_arrFiles[i]))
            continue;
        const std::string strEntry(sess.m_arrFiles[i]);
        const std::string strPath = strBase + strEntry;
        plat::Trace("DeleteDir : %s\n", strPath.c_str());
        // A move of the whole shared folder empties it but keeps the folder the user chose.
        if (IsSharedFolderItself(share, strPath))
            continue;
        if (IsDaemonOwnPath(share, strPath, OwnUse::Change))
            continue;  // a folder on the way to the daemon's own files stays
        // A folder that still holds anything stays, without a further line.
        if (tree.RemoveFolder(strEntry) == plat::FolderRemoval::Failed)
            plat::Trace("DeleteDir fail : %s\n", strPath.c_str());
    }
}

CmdNext HandleDirDnReq(CSess& sess, CXferCtx& ctx)
{
    plat::Trace("FC_DIR_DN_REQ(%lx)\n", sess.Id());
    PathReq eReq = TakePathRequest(sess, ctx, "FC_DIR_DN_REQ", ctx.strPath);
    if (eReq == PathReq::Invalid)
        return CmdNext::Continue;  // no reply, and the session stays in the main loop
    const uint8_t ucTag = sess.m_Packet.Payload()[0];
    if (eReq == PathReq::Ok) {
        SetBaseDir(sess, ctx.strPath);
        if (ListTree(sess, ctx.share, ctx.strPath + "/", &ctx.names) != 0)
            plat::Trace("directory list too large: %s\n", ctx.strPath.c_str());
        sess.m_arrFiles.shrink_to_fit();
        BeginTransfer(sess, ctx, StbActivity::DirDownload, ctx.strPath, sess.m_ullTotal);
    }
    ctx.nDirEntries = static_cast<int32_t>(sess.m_arrFiles.size());
    uint8_t payload[13] = {ucTag};
    PutU32LE(payload + 1, static_cast<uint32_t>(ctx.nDirEntries));
    PutU64LE(payload + 5, sess.m_ullTotal);
    SendReply(sess, FC_DIR_DN_REP, payload, 13);
    return CmdNext::EnterDirDown;
}

CmdNext HandleRsFileDnReq(CSess& sess, CXferCtx& ctx)
{
    CPacket& packet = sess.m_Packet;
    plat::Trace("RS_FILE_DN_REQ(%lx)\n", sess.Id());
    if (packet.PayloadLength() < 4)
        plat::Trace("invalid param in RS_FILE_DN_REQ\n");
    const uint32_t ulIndex = static_cast<uint32_t>(PayloadField(packet, 0, 4));
    if (ulIndex >= static_cast<uint32_t>(std::max(ctx.nDirEntries, 0)) || ulIndex >= sess.m_arrFiles.size()) {
        uint8_t payload[5] = {};
        PutU32LE(payload, ulIndex);
        SendFrame(sess, RS_FILE_DN_REP_END, payload, 5);
        sess.m_arrFiles.clear();
        EndTransfer(sess, true);  // every entry has been offered
        return CmdNext::Continue;
    }
    const std::string strEntry(sess.m_arrFiles[ulIndex]);
    uint8_t ucStatus = kStatusDone;
    DnForm eForm = DnForm::Short;
    if (IsFolderEntry(strEntry)) {
        ctx.RecordSize(SizeWidth::Bits32, 0);  // a data request after a folder entry gets the error frame
    } else {
        ctx.strPath2 = GetBaseDir(sess) + strEntry;
        plat::Trace("%s\n", ctx.strPath2.c_str());
        ctx.ReleaseEarlier(1364, 1372);
        eForm = OpenDownload(ctx, ctx.strPath2, ucStatus, 1404);  // in the share FC_DIR_DN_REQ mapped
        if (eForm == DnForm::Failed)
            plat::Trace("E %s %d\n", "ip", 1379);
    }
    // The entry, as listed and in the STB's code page, follows the size field. The walk
    // listed only entries that convert, with the code page still in use.
    std::string strStbEntry;
    const SizeWidth width = eForm == DnForm::Long ? SizeWidth::Bits64 : SizeWidth::Bits32;
    const int nSizeWidth = WidthBytes(width);
    if (ctx.names.ToStb(strEntry, strStbEntry) != 0 ||
        1 + nSizeWidth + strStbEntry.size() + 1 > static_cast<size_t>(kMaxPayload))
        return CmdNext::Continue;
    const int nLength = 1 + nSizeWidth + static_cast<int>(strStbEntry.size()) + 1;
    uint8_t* p = packet.Payload();
    p[0] = ucStatus;
    PutLE(p + 1, ctx.RecordedSize(width), nSizeWidth);
    memcpy(p + 1 + nSizeWidth, strStbEntry.c_str(), strStbEntry.size() + 1);
    SendFrame(sess, RS_FILE_DN_REP, nullptr, nLength);
    return CmdNext::Continue;
}

CmdNext HandleRsDataReq(CSess& sess, CXferCtx& ctx)
{
    const bool bLarge = sess.m_Packet.Command() == RS_DATA_REQ_LARGE;
    ServeDataRequest(sess, ctx, SizeWidth::Bits32, bLarge ? kLargeBlock : kSmallBlock,
                     bLarge ? RS_DATA_REP_LARGE : RS_DATA_REP_SMALL, "RS_DATA_REQ");
    return CmdNext::Continue;
}

CmdNext HandleRsAfterMoveReq(CSess& sess, CXferCtx& ctx)
{
    CPacket& packet = sess.m_Packet;
    if (packet.PayloadLength() < 4)
        plat::Trace("invalid param in RS_AFTER_MOVE_REQ\n");
    const int32_t nCount = static_cast<int32_t>(static_cast<uint32_t>(PayloadField(packet, 0, 4)));
    ctx.ReleaseEarlier(1557, 1565);
    if (!ctx.bReadOnly)  // a read-only share keeps every file; the count is answered all the same
        AfterMoveDir(sess, ctx.share, nCount);
    sess.m_arrFiles.clear();
    EndTransfer(sess, true);
    uint8_t payload[5] = {static_cast<uint8_t>(nCount)};
    PutU32LE(payload + 1, static_cast<uint32_t>(nCount));
    SendFrame(sess, RS_AFTER_MOVE_REP, payload, 5);
    return CmdNext::Continue;
}
