#include "net/transferstatus.h"

#include "net/sess.h"
#include "net/statusboard.h"
#include "net/xferctx.h"

std::string PathInShare(const CXferCtx& ctx, const std::string& strLocal)
{
    const std::string& strRoot = ctx.share.strRoot;
    std::string strPath = strLocal.compare(0, strRoot.size(), strRoot) == 0 ? strLocal.substr(strRoot.size()) : strLocal;
    if (strPath.empty() || strPath[0] != '/')
        strPath.insert(strPath.begin(), '/');
    return strPath;
}

void BeginTransfer(CSess& sess, const CXferCtx& ctx, StbActivity eActivity, const std::string& strLocal,
                   uint64_t ullTotal)
{
    sess.m_Activity.Begin(eActivity, PathInShare(ctx, strLocal), ullTotal);
}

void EndTransfer(CSess& sess, bool bFinished)
{
    const StbActivity eActivity = sess.m_Activity.Activity();
    if (eActivity == StbActivity::Idle)
        return;
    sess.m_Activity.End();
    if (sess.m_pStatus != nullptr && eActivity != StbActivity::Listing) {
        const CActivityView view = sess.m_Activity.Read();
        sess.m_pStatus->AddEvent(bFinished ? StatusEventKind::Finished : StatusEventKind::Failed, sess.m_ulPeerAddr,
                                 std::string(ActivityName(eActivity)) + " " + view.strPath);
    }
}
