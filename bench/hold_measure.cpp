#include "hold_measure.h"

#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

#include "bench_util.h"
#include "daemon_proc.h"
#include "frame_io.h"
#include "stb_client.h"

namespace {

constexpr const char* kProgram = "bench_hold";
constexpr int kRecvTimeoutMs = 10000;
// Time for the session of the readiness check to end before the memory is read, and for
// the last session's bookkeeping afterwards.
constexpr int kSettleMs = 300;

// Opens the held file on a new connection. The session, or nullptr.
std::unique_ptr<CStbSession> OpenHolder(const CDaemonProc& daemon, uint64_t ullSize, int nIndex, int nCount)
{
    // The smallest reader: no data frame ever arrives.
    auto pStb = std::make_unique<CStbSession>(daemon.Port(), kRecvTimeoutMs, 0);
    const std::string strWhich = "session " + std::to_string(nIndex + 1) + " of " + std::to_string(nCount);
    if (!pStb->Connected()) {
        Fail(strWhich.c_str(), "cannot connect");
        return nullptr;
    }
    if (pStb->Exchange(0x02, CPayload().U8(0x01).Str(kHoldStbPath), 0xF2, 5) != 0) {
        Fail(strWhich.c_str(), pStb->strError + " (a session past a cap is closed at once)");
        return nullptr;
    }
    const RxFrame& f = pStb->f;
    if (f.pPayload[0] != 0 || GetLE(f.pPayload + 1, 4) != ullSize) {
        Fail(strWhich.c_str(), "FC_FILE_DN_REQ answered status " + std::to_string(f.pPayload[0]) + ", size " +
                                   std::to_string(GetLE(f.pPayload + 1, 4)));
        return nullptr;
    }
    return pStb;
}

}  // namespace

bool MeasureHold(const std::string& strBinary, const std::string& strLocal, uint64_t ullSize, int nSessions,
                 HoldFigures& figures)
{
    if (RaiseFileLimit(nSessions + 64L) < nSessions + 16L)
        return Fail(kProgram, "too few descriptors allowed for " + std::to_string(nSessions) + " connections");
    // The caps that the sessions just fit under: every connection comes from one host.
    CDaemonProc daemon;
    daemon.SetSessionCaps(nSessions, nSessions);
    if (!StartDaemon(daemon, strBinary, false, kProgram) ||
        !ShareInto(daemon, strLocal, kHoldStbPath + 1, ShareBy::HardLink, kProgram))
        return false;
    // The readiness check's session ends first: the memory before is an idle daemon's.
    usleep(kSettleMs * 1000);
    figures = HoldFigures{};
    figures.nRssBeforeKiB = daemon.StatusField("VmRSS");
    const long nThreadsBefore = daemon.StatusField("Threads");

    std::vector<std::unique_ptr<CStbSession>> holders;
    for (int i = 0; i < nSessions; ++i) {
        holders.push_back(OpenHolder(daemon, ullSize, i, nSessions));
        if (holders.back() == nullptr)
            return false;
    }
    usleep(kSettleMs * 1000);
    figures.nRssKiB = daemon.StatusField("VmRSS");
    figures.nThreadsAdded = daemon.StatusField("Threads") - nThreadsBefore;
    fprintf(stderr, "%s:   %s: VmRSS %ld KiB -> %ld KiB with %d sessions holding %llu bytes each; %ld threads more\n",
            kProgram, strBinary.c_str(), figures.nRssBeforeKiB, figures.nRssKiB, nSessions,
            static_cast<unsigned long long>(ullSize), figures.nThreadsAdded);
    return figures.nRssBeforeKiB > 0 && figures.nRssKiB > 0;
}
