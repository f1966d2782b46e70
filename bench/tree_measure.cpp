#include "tree_measure.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "bench_util.h"
#include "frame_io.h"
#include "stb_client.h"

namespace {

// Building the list of a large tree takes a while before the one reply comes.
constexpr int kRecvTimeoutMs = 60000;
constexpr int kSettleMs = 300;
constexpr size_t kPatternBytes = 128 * 1024;

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

bool DaemonListing(const CDaemonProc& daemon, const std::string& strStbFolder, std::vector<std::string>& names,
                   double& dSeconds)
{
    const char* pszWhat = "listing";
    CStbSession stb(daemon.Port(), kRecvTimeoutMs);
    if (!stb.Connected())
        return Fail(pszWhat, "cannot connect");
    RxFrame& f = stb.f;
    const auto t0 = Clock::now();
    if (stb.Exchange(0x07, CPayload().U8(0x01).Str(strStbFolder), 0xF7, 5) != 0)
        return Fail(pszWhat, stb.strError);
    const uint64_t ullSize = GetLE(f.pPayload + 1, 4);
    if (f.pPayload[0] != 0 || ullSize == 0)
        return Fail(pszWhat, "FC_DIR_REQ answered status " + std::to_string(f.pPayload[0]));
    const std::vector<uint8_t> request = MakeFrame(0x23, CPayload().LE(0, 4).LE(ullSize, 4).Data());
    if (SendAll(stb.conn.fd, request.data(), request.size()) != 0)
        return Fail(pszWhat, "send failed");
    std::vector<uint8_t> block;
    block.reserve(ullSize);
    while (block.size() < ullSize) {
        if (stb.reader.Next(f) != 0)
            return Fail(pszWhat, stb.reader.Error());
        if (f.ucCommand != 0xD3 || f.nPayload <= 4 || f.nPayload - 4 > kDataBlock ||
            GetLE(f.pPayload, 4) != block.size() || block.size() + f.nPayload - 4 > ullSize)
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

bool DaemonTreeList(const CDaemonProc& daemon, const std::string& strStbRoot, const TreeFacts& facts,
                    TreeListRun& run)
{
    const char* pszWhat = "directory download list";
    CStbSession stb(daemon.Port(), kRecvTimeoutMs);
    if (!stb.Connected() || VerRoundTrip(stb.conn.fd) != 0)
        return Fail(pszWhat, "cannot connect");
    // The session runs now; its thread's first allocations are behind us.
    usleep(kSettleMs * 1000);
    run.nRssBeforeKiB = daemon.StatusField("VmRSS");
    RxFrame& f = stb.f;
    const auto t0 = Clock::now();
    if (stb.Exchange(0x13, CPayload().U8(0x5A).Str(strStbRoot), 0xE3, 13) != 0)
        return Fail(pszWhat, stb.strError);
    run.dSeconds = Seconds(Clock::now() - t0);
    run.nRssAfterKiB = daemon.StatusField("VmRSS");
    const uint64_t ullCount = GetLE(f.pPayload + 1, 4);
    const uint64_t ullTotal = GetLE(f.pPayload + 5, 8);
    if (f.pPayload[0] != 0x5A || ullCount != facts.ullFiles + facts.ullFolders || ullTotal != facts.ullFileBytes)
        return Fail(pszWhat, "the reply counts " + std::to_string(ullCount) + " entries of " +
                                 std::to_string(ullTotal) + " bytes, expected " +
                                 std::to_string(facts.ullFiles + facts.ullFolders) + " of " +
                                 std::to_string(facts.ullFileBytes));
    return run.nRssBeforeKiB > 0 && run.nRssAfterKiB > 0;
}

bool DaemonDirUpload(const CDaemonProc& daemon, const std::string& strStbInto, const std::string& strTop,
                     int nFolders, int nFilesPer, size_t nFileBytes, double& dSeconds)
{
    const char* pszWhat = "directory upload";
    if (nFileBytes == 0 || nFileBytes > kMaxPayload - 4)
        return Fail(pszWhat, "files must fit one data frame");
    CStbSession stb(daemon.Port(), kRecvTimeoutMs, 256 * 1024);
    if (!stb.Connected())
        return Fail(pszWhat, "cannot connect");
    RxFrame& f = stb.f;
    const uint32_t ulEntries = static_cast<uint32_t>(1 + nFolders + nFolders * nFilesPer);
    const uint64_t ullTotal = static_cast<uint64_t>(nFolders) * static_cast<uint64_t>(nFilesPer) * nFileBytes;
    auto entry = [&](uint8_t ucType, uint32_t ulSize, const std::string& strName) {
        if (stb.Exchange(0x04, CPayload().U8(ucType).LE(ulSize, 4).Str(strName), 0x40, 5) != 0)
            return false;
        if (f.pPayload[0] == 0 && GetLE(f.pPayload + 1, 4) == ulSize)
            return true;
        stb.strError = "RS_FILE_UP_REQ of " + strName + " answered status " + std::to_string(f.pPayload[0]);
        return false;
    };
    const auto t0 = Clock::now();
    if (stb.Exchange(0x14, CPayload().U8(0x01).LE(ulEntries, 4).LE(ullTotal, 8).Str(strStbInto), 0xE4, 1) != 0)
        return Fail(pszWhat, stb.strError);
    if (f.pPayload[0] != 0)
        return Fail(pszWhat, "FC_DIR_UP_REQ answered status " + std::to_string(f.pPayload[0]));
    if (!entry('D', 0, strTop))
        return Fail(pszWhat, stb.strError);
    for (int d = 0; d < nFolders; ++d) {
        const std::string strFolder = FolderName(strTop, d);
        if (!entry('D', 0, strFolder))
            return Fail(pszWhat, stb.strError);
        for (int j = 0; j < nFilesPer; ++j) {
            const int i = d * nFilesPer + j;
            if (!entry('F', static_cast<uint32_t>(nFileBytes), strFolder + FileName(i)))
                return Fail(pszWhat, stb.strError);
            CPayload data;
            data.LE(0, 4).Bytes(FileBytes(i, nFileBytes), nFileBytes);
            if (stb.Exchange(0x05, data, 0x50, 8) != 0)
                return Fail(pszWhat, stb.strError);
            if (GetLE(f.pPayload, 4) != 0 || GetLE(f.pPayload + 4, 4) != nFileBytes)
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
