#include "hold_measure.h"

#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

#include "bench_conn.h"
#include "bench_daemon.h"
#include "bench_util.h"
#include "net/protocol.h"
#include "net/wire.h"
#include "platform/limits.h"
#include "proc_figures.h"

namespace {

constexpr const char* kProgram = "bench_hold";
constexpr int kRecvTimeoutMs = 10000;
// Time for the session of the readiness check to end before the memory is read, and for
// the last session's bookkeeping afterwards.
constexpr int kSettleMs = 300;

// Opens the held file on a new connection. The session, or nullptr.
std::unique_ptr<CStbConn> OpenHolder(const CBenchDaemon& daemon, uint64_t ullSize, int nIndex, int nCount)
{
    // The smallest receive buffer: no data frame ever arrives.
    auto pConn = std::make_unique<CStbConn>(0);
    const std::string strWhich = "session " + std::to_string(nIndex + 1) + " of " + std::to_string(nCount);
    if (!ConnectLoopback(*pConn, daemon.Port(), kRecvTimeoutMs)) {
        Fail(strWhich.c_str(), pConn->Error());
        return nullptr;
    }
    CFrameView f;
    if (pConn->Exchange(FC_FILE_DN_REQ, PathPayload(kHoldStbPath), FC_FILE_DN_REP, 5, f) != 0) {
        Fail(strWhich.c_str(), pConn->Error() + " (a session past a cap is closed at once)");
        return nullptr;
    }
    if (f.pPayload[0] != kStatusDone || GetU32LE(f.pPayload + 1) != ullSize) {
        Fail(strWhich.c_str(), "FC_FILE_DN_REQ answered status " + std::to_string(f.pPayload[0]) + ", size " +
                                   std::to_string(GetU32LE(f.pPayload + 1)));
        return nullptr;
    }
    return pConn;
}

}  // namespace

bool MeasureHold(const std::string& strBinary, const std::string& strLocal, uint64_t ullSize, int nSessions,
                 HoldFigures& figures)
{
    if (plat::RaiseDescriptorLimit() < nSessions + 16L)
        return Fail(kProgram, "too few descriptors allowed for " + std::to_string(nSessions) + " connections");
    // The caps that the sessions just fit under: every connection comes from one host.
    CBenchDaemon daemon;
    daemon.SetSessionCaps(nSessions, nSessions);
    if (!StartDaemon(daemon, strBinary, false, kProgram) ||
        !ShareInto(daemon, strLocal, kHoldStbPath + 1, ShareBy::HardLink, kProgram))
        return false;
    // The readiness check's session ends first: the memory before is an idle daemon's.
    usleep(kSettleMs * 1000);
    figures = HoldFigures{};
    figures.nRssBeforeKiB = ProcStatusField(daemon.Pid(), "VmRSS");
    const long nThreadsBefore = ProcStatusField(daemon.Pid(), "Threads");

    std::vector<std::unique_ptr<CStbConn>> holders;
    for (int i = 0; i < nSessions; ++i) {
        holders.push_back(OpenHolder(daemon, ullSize, i, nSessions));
        if (holders.back() == nullptr)
            return false;
    }
    usleep(kSettleMs * 1000);
    figures.nRssKiB = ProcStatusField(daemon.Pid(), "VmRSS");
    figures.nThreadsAdded = ProcStatusField(daemon.Pid(), "Threads") - nThreadsBefore;
    fprintf(stderr, "%s:   %s: VmRSS %ld KiB -> %ld KiB with %d sessions holding %llu bytes each; %ld threads more\n",
            kProgram, strBinary.c_str(), figures.nRssBeforeKiB, figures.nRssKiB, nSessions,
            static_cast<unsigned long long>(ullSize), figures.nThreadsAdded);
    return figures.nRssBeforeKiB > 0 && figures.nRssKiB > 0;
}
