#include "bench_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>
#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace {

constexpr size_t kChunk = 1 << 20;

// Repeats fnMove(nDone) (one read or write of the bytes from nDone on) until all n bytes
// have moved. false on an error or an early end.
template <typename Move>
bool MoveAll(size_t n, Move fnMove)
{
    size_t nDone = 0;
    while (nDone < n) {
        const ssize_t r = fnMove(nDone);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        nDone += static_cast<size_t>(r);
    }
    return true;
}

bool WriteAll(int fd, const void* p, size_t n)
{
    const char* pc = static_cast<const char*>(p);
    return MoveAll(n, [&](size_t nDone) { return write(fd, pc + nDone, n - nDone); });
}

bool CreateFileWith(const std::string& strPath, const void* p, size_t n)
{
    int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fprintf(stderr, "bench: cannot create %s: %s\n", strPath.c_str(), strerror(errno));
        return false;
    }
    const bool bOk = n == 0 || WriteAll(fd, p, n);
    close(fd);
    return bOk;
}

bool MakeFolder(const std::string& strPath)
{
    if (mkdir(strPath.c_str(), 0755) == 0 || errno == EEXIST)
        return true;
    fprintf(stderr, "bench: cannot create the folder %s: %s\n", strPath.c_str(), strerror(errno));
    return false;
}

}  // namespace

bool ReadAt(int fd, uint64_t ullOffset, uint8_t* p, size_t n)
{
    return MoveAll(n, [&](size_t nDone) { return pread(fd, p + nDone, n - nDone, static_cast<off_t>(ullOffset + nDone)); });
}

bool WriteAt(int fd, uint64_t ullOffset, const uint8_t* p, size_t n)
{
    return MoveAll(n, [&](size_t nDone) { return pwrite(fd, p + nDone, n - nDone, static_cast<off_t>(ullOffset + nDone)); });
}

CScratchDir::~CScratchDir()
{
    if (!m_strPath.empty())
        RemovePath(m_strPath);
}

int CScratchDir::Create(const char* pszProgram)
{
    char szTemplate[] = "/tmp/corvane-bench-data.XXXXXX";
    if (mkdtemp(szTemplate) == nullptr) {
        fprintf(stderr, "%s: mkdtemp: %s\n", pszProgram, strerror(errno));
        return -1;
    }
    m_strPath = szTemplate;
    return 0;
}

uint64_t ByteSum(const uint8_t* p, size_t n)
{
    uint64_t ullSum = 0;
#if defined(__SSE2__) && defined(__x86_64__)
    // The measuring side sums every byte a download brings, beside the frame checksum:
    // one "sum of absolute differences" against zero adds 16 bytes into two 64-bit lanes,
    // a third of the time of the plain loop below.
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;
    for (; n >= 16; n -= 16, p += 16)
        sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), zero));
    ullSum = static_cast<uint64_t>(_mm_cvtsi128_si64(sums)) +
             static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
#endif
    // 32-bit lanes cannot overflow within a block of 64 KiB bytes; the compiler
    // vectorises the inner loop.
    while (n > 0) {
        const size_t nBlock = n < 65536 ? n : 65536;
        uint32_t ulSum = 0;
        for (size_t i = 0; i < nBlock; ++i)
            ulSum += p[i];
        ullSum += ulSum;
        p += nBlock;
        n -= nBlock;
    }
    return ullSum;
}

bool HasFreeBytes(const std::string& strDir, uint64_t ullBytes)
{
    struct statvfs vfs;
    if (statvfs(strDir.c_str(), &vfs) != 0)
        return false;
    return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize >= ullBytes;
}

void SettleVolume(const std::string& strDir)
{
    const int fd = open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        syncfs(fd);
        close(fd);
    }
}

const char* PlaceName(Place ePlace) { return ePlace == Place::Disk ? "disk" : "tmpfs"; }

bool IsFolderOn(const std::string& strDir, Place ePlace, const char* pszProgram)
{
    struct statfs fs;
    struct stat st;
    if (statfs(strDir.c_str(), &fs) != 0 || stat(strDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        fprintf(stderr, "%s: %s is not a folder\n", pszProgram, strDir.c_str());
        return false;
    }
    const bool bTmpfs = fs.f_type == TMPFS_MAGIC;
    if (bTmpfs == (ePlace == Place::Tmpfs))
        return true;
    fprintf(stderr, "%s: %s is %son tmpfs; name a folder %son tmpfs for the %s measurements\n", pszProgram,
            strDir.c_str(), bTmpfs ? "" : "not ", ePlace == Place::Tmpfs ? "" : "not ", PlaceName(ePlace));
    return false;
}

void FillPattern(uint8_t* p, size_t n, uint64_t ullSeed)
{
    uint64_t x = ullSeed * 0x9E3779B97F4A7C15ULL + 0x2545F4914F6CDD1DULL;
    for (size_t i = 0; i < n; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        const size_t nTake = std::min<size_t>(8, n - i);
        memcpy(p + i, &x, nTake);
    }
}

bool WritePatternFile(const std::string& strPath, uint64_t ullBytes, uint64_t& ullSum)
{
    int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fprintf(stderr, "bench: cannot create %s: %s\n", strPath.c_str(), strerror(errno));
        return false;
    }
    std::vector<uint8_t> chunk(kChunk);
    ullSum = 0;
    bool bOk = true;
    for (uint64_t ullDone = 0, i = 0; bOk && ullDone < ullBytes; ++i) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, ullBytes - ullDone));
        FillPattern(chunk.data(), n, i);
        ullSum += ByteSum(chunk.data(), n);
        bOk = WriteAll(fd, chunk.data(), n);
        ullDone += n;
    }
    bOk = bOk && fdatasync(fd) == 0;
    close(fd);
    if (!bOk)
        fprintf(stderr, "bench: writing %s failed: %s\n", strPath.c_str(), strerror(errno));
    return bOk;
}

bool ReadAndSum(const std::string& strPath, uint64_t& ullSize, uint64_t& ullSum)
{
    int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::vector<uint8_t> chunk(kChunk);
    ullSize = 0;
    ullSum = 0;
    for (;;) {
        ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close(fd);
            return n == 0;
        }
        ullSize += static_cast<uint64_t>(n);
        ullSum += ByteSum(chunk.data(), static_cast<size_t>(n));
    }
}

bool MakeFlatFolder(const std::string& strDir, int nCount, std::vector<std::string>& names)
{
    if (!MakeFolder(strDir))
        return false;
    // Recording-like names whose first letters vary in case, so that the sort has to fold.
    static const char kWords[][8] = {"news", "Film", "SPORT", "kids", "Doku", "music", "Show", "serie"};
    names.clear();
    names.reserve(static_cast<size_t>(nCount));
    for (int i = 0; i < nCount; ++i) {
        const unsigned h = static_cast<unsigned>(i) * 2654435761u;
        char sz[64];
        snprintf(sz, sizeof(sz), "%s_%c%c_%06d.ts", kWords[h >> 29], 'a' + static_cast<char>((h >> 20) % 26),
                 'A' + static_cast<char>((h >> 12) % 26), i);
        names.emplace_back(sz);
        if (!CreateFileWith(strDir + "/" + names.back(), nullptr, 0))
            return false;
    }
    return true;
}

bool MakeTree(const std::string& strRoot, int nFolders, int nFilesPer, TreeFacts& facts)
{
    facts = TreeFacts{};
    if (!MakeFolder(strRoot))
        return false;
    const std::string strTop = strRoot.substr(strRoot.rfind('/') + 1);
    facts.ullFolders = 1;
    facts.ullNameBytes = strTop.size() + 1;
    const char kBytes[16] = "0123456789abcde";
    for (int d = 0; d < nFolders; ++d) {
        char szFolder[32];
        snprintf(szFolder, sizeof(szFolder), "Folder_%03d", d);
        const std::string strFolder = strRoot + "/" + szFolder;
        if (!MakeFolder(strFolder))
            return false;
        ++facts.ullFolders;
        facts.ullNameBytes += strTop.size() + 1 + strlen(szFolder) + 1;
        for (int f = 0; f < nFilesPer; ++f) {
            const int nIndex = d * nFilesPer + f;
            char szFile[32];
            snprintf(szFile, sizeof(szFile), "Recording_%06d.ts", nIndex);
            const size_t nSize = static_cast<size_t>(nIndex % 13);
            if (!CreateFileWith(strFolder + "/" + szFile, kBytes, nSize))
                return false;
            ++facts.ullFiles;
            facts.ullFileBytes += nSize;
            facts.ullNameBytes += strTop.size() + 1 + strlen(szFolder) + 1 + strlen(szFile);
        }
    }
    return true;
}

void RemovePath(const std::string& strPath)
{
    std::error_code ec;
    std::filesystem::remove_all(strPath, ec);
}
