#include "dirhold_measure.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
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
// A walk of the tree takes a moment; the reply waits for it.
constexpr int kRecvTimeoutMs = 30000;
// Time for the session of the readiness check to end before the memory is read, and for
// the last session's bookkeeping afterwards.
constexpr int kSettleMs = 300;
// The longest name a folder of the chain gets (the system allows 255 bytes).
constexpr size_t kChainNameBytes = 250;

bool MakeFolder(const std::string& strPath)
{
    if (mkdir(strPath.c_str(), 0755) == 0)
        return true;
    return Fail(kProgram, "cannot create a folder of the tree: " + std::string(strerror(errno)));
}

// The tree below strRoot (in the shared folder, named as kDirHoldStbPath): the folder, a
// chain of long-named folders, and at its end the files that make nEntries entries, each
// file's entry ("deep/<chain>/f_000001") about nPathBytes long.
bool MakeDeepTree(const std::string& strRoot, int nEntries, int nPathBytes, DirHoldFigures& figures)
{
    const std::string strTop = std::string(kDirHoldStbPath + 1) + "/";
    constexpr size_t kFileNameBytes = 8;  // "f_000001"
    std::string strRel = strTop;  // the entry of the folder made last
    uint64_t ullNames = strRel.size() + 1;
    uint32_t ulEntries = 1;
    if (!MakeFolder(strRoot))
        return false;
    for (int nLevel = 0; strRel.size() + kFileNameBytes < static_cast<size_t>(nPathBytes); ++nLevel) {
        const size_t nLeft = static_cast<size_t>(nPathBytes) - strRel.size() - kFileNameBytes;
        char szPrefix[16];
        snprintf(szPrefix, sizeof(szPrefix), "c%d_", nLevel);
        std::string strName = szPrefix;
        strName.resize(std::max(strName.size(), std::min(kChainNameBytes, nLeft - 1)), 'x');
        strRel += strName + "/";
        if (!MakeFolder(strRoot + "/" + strRel.substr(strTop.size())))
            return false;
        ullNames += strRel.size() + 1;
        ++ulEntries;
    }
    const std::string strBottom = strRoot + "/" + strRel.substr(strTop.size());
    for (int i = 1; ulEntries < static_cast<uint32_t>(nEntries); ++i, ++ulEntries) {
        char szName[16];
        snprintf(szName, sizeof(szName), "f_%06d", i);
        const int fd = open((strBottom + szName).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return Fail(kProgram, "cannot create a file of the tree: " + std::string(strerror(errno)));
        close(fd);
        ullNames += strRel.size() + strlen(szName) + 1;
    }
    figures.ulEntries = ulEntries;
    figures.ullNameBytes = ullNames;
    return true;
}

// Starts a directory download of the tree on a new connection, which then stays. The
// session, or nullptr; bListed says whether its list holds the whole tree (else: none).
std::unique_ptr<CStbConn> OpenLister(const CBenchDaemon& daemon, uint32_t ulEntries, int nIndex, int nCount,
                                     bool& bListed)
{
    auto pConn = std::make_unique<CStbConn>(0);  // the smallest receive buffer
    const std::string strWhich = "session " + std::to_string(nIndex + 1) + " of " + std::to_string(nCount);
    if (!ConnectLoopback(*pConn, daemon.Port(), kRecvTimeoutMs)) {
        Fail(strWhich.c_str(), pConn->Error());
        return nullptr;
    }
    CFrameView f;
    if (pConn->Exchange(FC_DIR_DN_REQ, PathPayload(kDirHoldStbPath), FC_DIR_DN_REP, 13, f) != 0) {
        Fail(strWhich.c_str(), pConn->Error() + " (a session past a cap is closed at once)");
        return nullptr;
    }
    const uint32_t ulCount = GetU32LE(f.pPayload + 1);
    if (ulCount != ulEntries && ulCount != 0) {
        Fail(strWhich.c_str(), "FC_DIR_DN_REQ answered " + std::to_string(ulCount) + " entries, not " +
                                   std::to_string(ulEntries) + " or none");
        return nullptr;
    }
    bListed = ulCount != 0;
    return pConn;
}

}  // namespace

bool MeasureDirHold(const std::string& strBinary, int nSessions, int nEntries, int nPathBytes,
                    DirHoldFigures& figures)
{
    if (plat::RaiseDescriptorLimit() < nSessions + 16L)
        return Fail(kProgram, "too few descriptors allowed for " + std::to_string(nSessions) + " connections");
    figures = DirHoldFigures{};
    CBenchDaemon daemon;
    daemon.SetSessionCaps(nSessions, nSessions);  // every connection comes from one host
    if (!StartDaemon(daemon, strBinary, false, kProgram) ||
        !MakeDeepTree(daemon.ShareDir() + kDirHoldStbPath, nEntries, nPathBytes, figures))
        return false;
    usleep(kSettleMs * 1000);
    figures.nRssBeforeKiB = ProcStatusField(daemon.Pid(), "VmRSS");
    std::vector<std::unique_ptr<CStbConn>> listers;
    for (int i = 0; i < nSessions; ++i) {
        bool bListed = false;
        listers.push_back(OpenLister(daemon, figures.ulEntries, i, nSessions, bListed));
        if (listers.back() == nullptr)
            return false;
        ++(bListed ? figures.nListed : figures.nEmpty);
    }
    usleep(kSettleMs * 1000);
    figures.nRssKiB = ProcStatusField(daemon.Pid(), "VmRSS");
    fprintf(stderr,
            "%s:   %s: VmRSS %ld KiB -> %ld KiB with %d sessions in a directory download of %u entries "
            "(%llu bytes of names): %d listed it, %d were answered with an empty list\n",
            kProgram, strBinary.c_str(), figures.nRssBeforeKiB, figures.nRssKiB, nSessions, figures.ulEntries,
            static_cast<unsigned long long>(figures.ullNameBytes), figures.nListed, figures.nEmpty);
    return figures.nRssBeforeKiB > 0 && figures.nRssKiB > 0;
}
