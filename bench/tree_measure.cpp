#include "tree_measure.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "bench_conn.h"
#include "bench_util.h"
#include "net/protocol.h"
#include "net/wire.h"
#include "proc_figures.h"

namespace {

// Building the list of a large tree takes a while before the one reply comes.
constexpr int kRecvTimeoutMs = 60000;
constexpr int kSettleMs = 300;
// A deletion waits on the disk for every file: on a busy disk minutes for a large tree.
constexpr int kRemoveTimeoutMs = 600000;
constexpr size_t kPatternBytes = 128 * 1024;
// The tag byte of the directory download request, which its reply carries back.
constexpr uint8_t kDirTag = 0x5A;

// The bytes of uploaded file i: a slice of one pseudo-random buffer.
const uint8_t* FileBytes(int i, size_t nFileBytes)
{
    static const std::vector<uint8_t> pattern = [] {
        std::vector<uint8_t> v(kPatternBytes);
        FillPattern(v.data(), v.size(), 0xD1);
        return v;
    }();
    return pattern.data() + (static_cast<size_t>(i) * 997) % (kPatternBytes - nFileBytes);
}

std::string FolderName(const std::string& strTop, int d)
{
    char sz[32];
    snprintf(sz, sizeof(sz), "/Folder_%02d", d);
    return strTop + sz;
}

std::string FileName(int i)
{
    char sz[32];
    snprintf(sz, sizeof(sz), "/File_%05d.bin", i);
    return sz;
}

}  // namespace

bool DaemonListing(const CBenchDaemon& daemon, const std::string& strStbFolder, std::vector<std::string>& names,
                   double& dSeconds)
{
    const char* pszWhat = "listing";
    CStbConn conn;
    if (!ConnectLoopback(conn, daemon.Port(), kRecvTimeoutMs))
        return Fail(pszWhat, conn.Error());
    CFrameView f;
    const auto t0 = Clock::now();
    if (conn.Exchange(FC_DIR_REQ, PathPayload(strStbFolder), FC_DIR_REP, 5, f) != 0)
        return Fail(pszWhat, conn.Error());
    const uint32_t ulSize = GetU32LE(f.pPayload + 1);
    if (f.pPayload[0] != kStatusDone || ulSize == 0)
        return Fail(pszWhat, "FC_DIR_REQ answered status " + std::to_string(f.pPayload[0]));
    uint8_t request[8];
    PutU32LE(request, 0);
    PutU32LE(request + 4, ulSize);
    if (conn.Send(FC_DATA_REQ_LARGE, request, sizeof(request)) != 0)
        return Fail(pszWhat, conn.Error());
    std::vector<uint8_t> block;
    block.reserve(ulSize);
    while (block.size() < ulSize) {
        if (conn.Receive(f) != 0)
            return Fail(pszWhat, conn.Error());
        if (f.ucCommand != FC_DATA_REP_LARGE || f.nPayload <= 4 || f.nPayload - 4 > static_cast<size_t>(kLargeBlock) ||
            GetU32LE(f.pPayload) != block.size() || block.size() + f.nPayload - 4 > ulSize)
            return Fail(pszWhat, "unexpected data frame at offset " + std::to_string(block.size()));
        block.insert(block.end(), f.pPayload + 4, f.pPayload + f.nPayload);
    }
    dSeconds = Seconds(Clock::now() - t0);

    names.clear();
    for (size_t i = 0; i < block.size();) {
        const uint8_t* pEnd = static_cast<const uint8_t*>(memchr(block.data() + i + 1, 0, block.size() - i - 1));
        if (block.size() - i < 2 || pEnd == nullptr)
            return Fail(pszWhat, "the listing block ends inside a record");
        names.emplace_back(reinterpret_cast<const char*>(block.data() + i + 1));
        const bool bDotEntry = names.size() <= 2 && (names.back() == "." || names.back() == "..");
        if (block[i] != (bDotEntry ? 1 : 0))
            return Fail(pszWhat, "wrong type byte for " + names.back());
        i = static_cast<size_t>(pEnd - block.data()) + 1;
    }
    return true;
}

bool DaemonTreeList(const CBenchDaemon& daemon, const std::string& strStbRoot, const TreeFacts& facts,
                    TreeListRun& run)
{
    const char* pszWhat = "directory download list";
    CStbConn conn;
    if (!ConnectLoopback(conn, daemon.Port(), kRecvTimeoutMs) || !VerRoundTrip(conn))
        return Fail(pszWhat, conn.Error());
    // The session runs now; its thread's first allocations are behind us.
    usleep(kSettleMs * 1000);
    run.nRssBeforeKiB = ProcStatusField(daemon.Pid(), "VmRSS");
    // The tag byte comes back as the reply's first byte.
    std::vector<uint8_t> request(1, kDirTag);
    AppendCString(request, strStbRoot);
    CFrameView f;
    const auto t0 = Clock::now();
    if (conn.Exchange(FC_DIR_DN_REQ, request, FC_DIR_DN_REP, 13, f) != 0)
        return Fail(pszWhat, conn.Error());
    run.dSeconds = Seconds(Clock::now() - t0);
    run.nRssAfterKiB = ProcStatusField(daemon.Pid(), "VmRSS");
    const uint64_t ullCount = GetU32LE(f.pPayload + 1);
    const uint64_t ullTotal = GetU64LE(f.pPayload + 5);
    if (f.pPayload[0] != kDirTag || ullCount != facts.ullFiles + facts.ullFolders || ullTotal != facts.ullFileBytes)
        return Fail(pszWhat, "the reply counts " + std::to_string(ullCount) + " entries of " +
                                 std::to_string(ullTotal) + " bytes, expected " +
                                 std::to_string(facts.ullFiles + facts.ullFolders) + " of " +
                                 std::to_string(facts.ullFileBytes));
    return run.nRssBeforeKiB > 0 && run.nRssAfterKiB > 0;
}

bool DaemonRemoveTree(const CBenchDaemon& daemon, const std::string& strStbFolder, double& dSeconds)
{
    const char* pszWhat = "tree deletion";
    CStbConn conn;
    if (!ConnectLoopback(conn, daemon.Port(), kRemoveTimeoutMs) || !VerRoundTrip(conn))
        return Fail(pszWhat, conn.Error());
    std::vector<uint8_t> request(1, kDirTag);
    AppendCString(request, strStbFolder);
    CFrameView f;
    const auto t0 = Clock::now();
    if (conn.Exchange(FC_RMDIR_REQ, request, FC_RMDIR_REP, 1, f) != 0)
        return Fail(pszWhat, conn.Error());
    dSeconds = Seconds(Clock::now() - t0);
    if (f.pPayload[0] != kStatusDone)
        return Fail(pszWhat, "FC_RMDIR_REQ answered status " + std::to_string(f.pPayload[0]));
    return true;
}

bool DaemonDirUpload(const CBenchDaemon& daemon, const std::string& strStbInto, const std::string& strTop,
                     int nFolders, int nFilesPer, size_t nFileBytes, double& dSeconds)
{
    const char* pszWhat = "directory upload";
    if (nFileBytes == 0 || nFileBytes > static_cast<size_t>(kMaxPayload) - 4)
        return Fail(pszWhat, "files must fit one data frame");
    CStbConn conn;
    if (!ConnectLoopback(conn, daemon.Port(), kRecvTimeoutMs))
        return Fail(pszWhat, conn.Error());
    CFrameView f;
    std::string strError;
    const uint32_t ulEntries = static_cast<uint32_t>(1 + nFolders + nFolders * nFilesPer);
    const uint64_t ullTotal = static_cast<uint64_t>(nFolders) * static_cast<uint64_t>(nFilesPer) * nFileBytes;
    auto entry = [&](uint8_t ucType, uint32_t ulSize, const std::string& strName) {
        std::vector<uint8_t> request(5);
        request[0] = ucType;
        PutU32LE(request.data() + 1, ulSize);
        AppendCString(request, strName);
        if (conn.Exchange(RS_FILE_UP_REQ, request, RS_FILE_UP_REP, 5, f) != 0) {
            strError = conn.Error();
            return false;
        }
        if (f.pPayload[0] == kStatusDone && GetU32LE(f.pPayload + 1) == ulSize)
            return true;
        strError = "RS_FILE_UP_REQ of " + strName + " answered status " + std::to_string(f.pPayload[0]);
        return false;
    };
    std::vector<uint8_t> begin(13, 0);
    PutU32LE(begin.data() + 1, ulEntries);
    PutU64LE(begin.data() + 5, ullTotal);
    AppendCString(begin, strStbInto);
    const auto t0 = Clock::now();
    if (conn.Exchange(FC_DIR_UP_REQ, begin, FC_DIR_UP_REP, 1, f) != 0)
        return Fail(pszWhat, conn.Error());
    if (f.pPayload[0] != kStatusDone)
        return Fail(pszWhat, "FC_DIR_UP_REQ answered status " + std::to_string(f.pPayload[0]));
    if (!entry(kEntryFolder, 0, strTop))
        return Fail(pszWhat, strError);
    std::vector<uint8_t> data(4 + nFileBytes);
    for (int d = 0; d < nFolders; ++d) {
        const std::string strFolder = FolderName(strTop, d);
        if (!entry(kEntryFolder, 0, strFolder))
            return Fail(pszWhat, strError);
        for (int j = 0; j < nFilesPer; ++j) {
            const int i = d * nFilesPer + j;
            if (!entry(kEntryFile, static_cast<uint32_t>(nFileBytes), strFolder + FileName(i)))
                return Fail(pszWhat, strError);
            PutU32LE(data.data(), 0);
            memcpy(data.data() + 4, FileBytes(i, nFileBytes), nFileBytes);
            if (conn.Exchange(RS_DATA_UP_REQ, data, RS_DATA_UP_REP, 8, f) != 0)
                return Fail(pszWhat, conn.Error());
            if (GetU32LE(f.pPayload) != 0 || GetU32LE(f.pPayload + 4) != nFileBytes)
                return Fail(pszWhat, "RS_DATA_UP_REQ of file " + std::to_string(i) + " was not taken whole");
        }
    }
    dSeconds = Seconds(Clock::now() - t0);
    return true;
}

bool CheckDirUpload(const std::string& strLocalTop, int nFolders, int nFilesPer, size_t nFileBytes)
{
    std::vector<uint8_t> buf(nFileBytes + 1);
    for (int d = 0; d < nFolders; ++d) {
        const std::string strFolder = FolderName(strLocalTop, d);
        for (int j = 0; j < nFilesPer; ++j) {
            const int i = d * nFilesPer + j;
            const std::string strPath = strFolder + FileName(i);
            int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
            const ssize_t n = fd >= 0 ? pread(fd, buf.data(), buf.size(), 0) : -1;
            if (fd >= 0)
                close(fd);
            if (n != static_cast<ssize_t>(nFileBytes) || memcmp(buf.data(), FileBytes(i, nFileBytes), nFileBytes) != 0)
                return Fail("directory upload check", strPath + " is missing or differs");
        }
    }
    return true;
}
