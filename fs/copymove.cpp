#include "fs/copymove.h"

#include <cstring>
#include <mutex>

#include "fs/ownpath.h"
#include "fs/path.h"
#include "net/payload.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/statusboard.h"
#include "net/transferstatus.h"
#include "net/xferctx.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/shellop.h"
#include "platform/thread.h"
#include "xfer/journal.h"

namespace {

// Room for a path in its list: 1,024 bytes less the two terminating zeros.
constexpr size_t kMaxOpPath = sizeof(CSess::m_szOpFrom) - 2;

// Collapses every run of two separators into one, in one left-to-right pass.
std::string CollapseSeparators(const std::string& str)
{
    std::string strOut;
    strOut.reserve(str.size());
    for (size_t i = 0; i < str.size(); ++i) {
        strOut += str[i];
        if (str[i] == '/' && i + 1 < str.size() && str[i + 1] == '/')
            ++i;
    }
    return strOut;
}

// A copy's temporaries in the journal of unfinished files: one record for the operation,
// held by its worker, so that the next start removes what a crash left of them.
class CCopyRecord : public plat::CCopyJournal {
public:
    explicit CCopyRecord(const plat::CShare& share) : m_share(share) {}
    void Note(const std::string& strPath, const plat::FileIdentity& id) override
    {
        m_Record.Add(CJournalEntry{m_share, strPath, id, JournalKind::Copy}, false);
    }
    int Commit() override { return m_Record.Commit(); }
    void Clear() override { m_Record.End(false); }

private:
    plat::CShare m_share;
    CJournalRecord m_Record;
};

// What the status shows of a copy: the worker alone writes the session's progress while
// it runs (the session thread only answers the status requests meanwhile).
class CCopyShown : public plat::CCopyProgress {
public:
    explicit CCopyShown(CSessActivity& activity) : m_Activity(activity) {}
    void Total(uint64_t ullBytes) override { m_Activity.SetTotal(ullBytes); }
    void Copied(uint64_t ullBytes) override
    {
        m_ullDone += ullBytes;
        m_Activity.Moved(m_ullDone, ullBytes);
    }

private:
    CSessActivity& m_Activity;
    uint64_t m_ullDone = 0;
};

int STB_SHFileOperationtask(void* pArg)
{
    CSess& sess = *static_cast<CSess*>(pArg);
    plat::CFileOp op = sess.m_FileOp;
    CCopyRecord journal(op.share);
    op.pJournal = &journal;
    CCopyShown shown(sess.m_Activity);
    op.pProgress = &shown;
    int rc = plat::ShellFileOperation(op);
    // The event is the worker's to record; the session shows idle once the status is
    // read (and the status board shows it idle as soon as the status is set).
    if (sess.m_pStatus != nullptr) {
        const CActivityView view = sess.m_Activity.Read();
        sess.m_pStatus->AddEvent(rc == 0 ? StatusEventKind::Finished : StatusEventKind::Failed, sess.m_ulPeerAddr,
                                 std::string(ActivityName(view.eActivity)) + " " + view.strPath);
    }
    std::lock_guard<std::mutex> lock(sess.m_Mutex);
    sess.m_nOpStatus = rc == 0 ? kStatusDone : kStatusFailed;
    return 0;
}

void SetOpStatus(CSess& sess, int nStatus)
{
    std::lock_guard<std::mutex> lock(sess.m_Mutex);
    sess.m_nOpStatus = nStatus;
}

CmdNext HandleCopyMove(CSess& sess, CXferCtx& ctx, plat::FileOpFunc func)
{
    const bool bMove = func == plat::FileOpFunc::Move;
    const char* pszName = bMove ? "FC_FILE_MOV_REQ" : "FC_FILE_CPY_REQ";
    const uint8_t ucReply = bMove ? FC_FILE_MOV_REP : FC_FILE_CPY_REP;
    plat::Trace("%s(%lx)\n", pszName, sess.Id());
    if (sess.m_nOpStatus != -1) {
        // An operation was started earlier in this session: this request is a poll.
        const int nStatus = sess.m_nOpStatus.load();
        if (nStatus != kStatusRunning)
            sess.m_Activity.End();
        SendStatus(sess, ucReply, static_cast<uint8_t>(nStatus));
        return CmdNext::Continue;
    }
    // A tag byte, then the source and the destination, each ending with a 0: the source
    // not empty, and at least two bytes left for the destination.
    CPayloadReader request(sess.m_Packet);
    const uint8_t ucTag = request.U8();
    std::string strSrc = request.Path();
    if (!sess.m_Packet.EndsWithZero(5) || strSrc.empty() || request.Left() < 2) {
        plat::Trace("invalid param in %s\n", pszName);
        SendFrame(sess, ucReply, &kStatusInvalid, 1);  // the session state stays as it was
        return CmdNext::Continue;
    }
    std::string strDst = request.Path();
    char* pszSrc = strSrc.data();
    char* pszDst = strDst.data();
    // Both paths are mapped onto the one shared folder read for the source. A source in,
    // or a destination that is, a folder reached through a link out of the shared
    // folder is refused as a ".." path is.
    if (MapStbPath(sess, ctx, pszSrc, ctx.strPath) != 0 || MapSecondStbPath(ctx, pszDst, ctx.strPath2) != 0 ||
        plat::LeadsOutOfShare(ctx.share, ctx.strPath) || plat::LeadsOutOfShare(ctx.share, ctx.strPath2 + "/.") ||
        IsOwnCopyMove(ctx, bMove)) {
        plat::Trace("(%x) refused: %s %s\n", ucTag, pszSrc, pszDst);
        SendStatus(sess, ucReply, kStatusFailed);
        return CmdNext::Continue;
    }
    plat::Trace("(%x) %s %s\n", ucTag, ctx.strPath.c_str(), ctx.strPath2.c_str());
    if (ctx.options.bReadOnly) {
        SendStatus(sess, ucReply, kStatusFailed);  // nothing changes in a read-only share
        return CmdNext::Continue;
    }
    sess.m_FileOp = plat::CFileOp{};
    std::string strFrom = CollapseSeparators(ctx.strPath);
    std::string strTo = CollapseSeparators(ctx.strPath2);
    // A folder sent with a trailing separator names the same folder without it.
    if (IsDirectoryPath(ctx.share, strFrom) && strTo.size() > 1 && strTo.back() == '/')
        strTo.pop_back();
    if (strFrom.size() > kMaxOpPath || strTo.size() > kMaxOpPath) {
        SendStatus(sess, ucReply, kStatusFailed);
        return CmdNext::Continue;
    }
    memset(sess.m_szOpFrom, 0, sizeof(sess.m_szOpFrom));
    memset(sess.m_szOpTo, 0, sizeof(sess.m_szOpTo));
    memcpy(sess.m_szOpFrom, strFrom.data(), strFrom.size());
    memcpy(sess.m_szOpTo, strTo.data(), strTo.size());
    sess.m_FileOp.wFunc = func;
    sess.m_FileOp.pFrom = sess.m_szOpFrom;
    sess.m_FileOp.pTo = sess.m_szOpTo;
    sess.m_FileOp.share = ctx.share;  // the worker's own copy: later requests remap ctx
    sess.m_FileOp.bInteractive = sess.Options().bInteractive;
    BeginTransfer(sess, ctx, bMove ? StbActivity::Moving : StbActivity::Copying, strFrom, 0);
    SetOpStatus(sess, kStatusRunning);
    plat::Trace("Source : %s, Dest : %s\n", sess.m_szOpFrom, sess.m_szOpTo);
    sess.m_hOpThread = plat::ThreadCreateSuspended(STB_SHFileOperationtask, &sess, true, plat::kSessionStackBytes);
    if (sess.m_hOpThread == nullptr) {
        plat::Trace("CreateThread(STB_SHFileOperationtask)=NULL\n");
        SetOpStatus(sess, kStatusDone);
    } else {
        plat::ThreadResume(sess.m_hOpThread);
    }
    SendStatus(sess, ucReply, static_cast<uint8_t>(sess.m_nOpStatus.load()));
    return CmdNext::Continue;
}

}  // namespace

CmdNext HandleFileCpyReq(CSess& sess, CXferCtx& ctx) { return HandleCopyMove(sess, ctx, plat::FileOpFunc::Copy); }

CmdNext HandleFileMovReq(CSess& sess, CXferCtx& ctx) { return HandleCopyMove(sess, ctx, plat::FileOpFunc::Move); }
