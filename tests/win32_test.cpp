// The Windows build of the suites: the Windows side of their shared fixtures (the Linux
// ones, test_util.cpp and test_files.cpp, set their cases up with POSIX calls), the
// suites this build leaves out, named as skipped, and what only the Windows platform
// layer does: names that are devices or streams elsewhere, links out of the shared folder
// that the system follows by itself, and a listener that must stop its accept.
#ifdef _WIN32

// The fixtures' headers first: platform/socket.h must come before <winsock2.h>.
#include "tests/test_files.h"
#include "tests/test_util.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// <windows.h> renames these to their A forms; the platform layer's own are meant here.
#undef DeleteFile
#undef RemoveDirectory

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "app/settings.h"
#include "fs/path.h"
#include "platform/dir.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/profile.h"
#include "platform/socket.h"
#include "tests/daemon_proc.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The sockets library for the whole test run (the fixtures' own sockets included).
class CWinsockEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};
testing::Environment* const g_pWinsock = testing::AddGlobalTestEnvironment(new CWinsockEnvironment);

void SaveAndSet(const char* pszName, const std::string& value, std::string& old, bool& bHad)
{
    const char* p = getenv(pszName);
    bHad = p != nullptr;
    if (bHad)
        old = p;
    _putenv_s(pszName, value.c_str());
}

void Restore(const char* pszName, const std::string& old, bool bHad) { _putenv_s(pszName, bHad ? old.c_str() : ""); }

// The per-user settings of this program: a test starts with none, as a fresh settings
// folder starts on Linux.
void ClearSettings()
{
    const std::string strKey = "Software\\Corvane\\" + plat::GetAppName();
    RegDeleteTreeA(HKEY_CURRENT_USER, strKey.c_str());
}

SOCKET AsSocket(int n) { return static_cast<SOCKET>(n); }

std::string Utf8(const std::wstring& wstr)
{
    if (wstr.empty())
        return std::string();
    const int nIn = static_cast<int>(wstr.size());
    std::string str(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wstr.data(), nIn, nullptr, 0, nullptr, nullptr)),
                    '\0');
    WideCharToMultiByte(CP_UTF8, 0, wstr.data(), nIn, str.data(), static_cast<int>(str.size()), nullptr, nullptr);
    return str;
}

// Under Wine, the host system beneath it: Wine makes no link itself (CreateSymbolicLinkW
// does nothing there), removes what a host link leads to in its place (RemoveDirectoryW
// removes an empty target and leaves the link) and lists no link whose target is missing,
// so the host's own programs make the links and remove the trees that hold them, reached
// through the calls Wine gives its programs for the host. Each is null where missing.
struct CWineHost {
    using GetUnixName = char*(CDECL*)(LPCWSTR);
    using UnixSpawn = LONG(CDECL*)(char* const*, int);
    GetUnixName pGetUnixName = nullptr;
    UnixSpawn pSpawn = nullptr;

    CWineHost()
    {
        // (Through the generic function type: the exports' own types are not FARPROC's.)
        using Generic = void (*)();
        pGetUnixName = reinterpret_cast<GetUnixName>(
            reinterpret_cast<Generic>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
        pSpawn = reinterpret_cast<UnixSpawn>(
            reinterpret_cast<Generic>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    }
    bool Ok() const { return pGetUnixName != nullptr && pSpawn != nullptr; }
    // The host's name of a local path; empty when it has none.
    std::string HostName(const std::wstring& wstrPath) const
    {
        std::string str;
        if (char* p = pGetUnixName(wstrPath.c_str())) {
            str = p;
            HeapFree(GetProcessHeap(), 0, p);
        }
        return str;
    }
    // Runs the host program with the arguments and waits for it: its exit status.
    long Run(std::vector<std::string> args) const
    {
        std::vector<char*> argv;
        for (std::string& str : args)
            argv.push_back(str.data());
        argv.push_back(nullptr);
        return pSpawn(argv.data(), 1);
    }
};

// Removes the tree by its extended-length path, so that names the plain forms would cut
// (those ending in '.' or ' ') go too; read-only files lose the attribute first. A link
// or junction is removed itself, never what it leads to.
void RemoveTree(const std::wstring& wstrPath)
{
    const DWORD dwAttrs = GetFileAttributesW(wstrPath.c_str());
    if (dwAttrs == INVALID_FILE_ATTRIBUTES)
        return;
    if ((dwAttrs & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetFileAttributesW(wstrPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(wstrPath.c_str());
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE hFind = (dwAttrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0
                       ? INVALID_HANDLE_VALUE
                       : FindFirstFileW((wstrPath + L"\\*").c_str(), &found);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring wstrName = found.cFileName;
            if (wstrName != L"." && wstrName != L"..")
                RemoveTree(wstrPath + L"\\" + wstrName);
        } while (FindNextFileW(hFind, &found));
        FindClose(hFind);
    }
    RemoveDirectoryW(wstrPath.c_str());
}

// A link made by the host's ln. The target keeps its form: relative with '/' between the
// names, absolute as the host names it.
std::string MakeHostLink(const std::string& target, const std::string& link)
{
    const CWineHost host;
    if (!host.Ok())
        return "this Wine has no way to the host system (wine_get_unix_file_name, __wine_unix_spawnvp)";
    const std::string strLink = host.HostName(LocalFsPath(link).make_preferred().wstring());
    std::string strTarget = target;
    if (LocalFsPath(target).is_absolute())
        strTarget = host.HostName(LocalFsPath(target).make_preferred().wstring());
    else
        std::replace(strTarget.begin(), strTarget.end(), '\\', '/');
    if (strLink.empty() || strTarget.empty())
        return "no host name for " + link + " or " + target;
    const long nStatus = host.Run({"/bin/ln", "-sT", strTarget, strLink});
    return nStatus == 0 ? std::string() : "ln -sT " + strTarget + " " + strLink + " ended with " + std::to_string(nStatus);
}

}  // namespace

// ---- test_util.h -------------------------------------------------------------------

// MultiByteToWideChar without MB_ERR_INVALID_CHARS: bytes that are no UTF-8 become
// U+FFFD instead of an exception of std::filesystem's own conversion.
fs::path LocalFsPath(const std::string& strPath)
{
    if (strPath.empty())
        return fs::path();
    const int nIn = static_cast<int>(strPath.size());
    std::wstring wstr(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, strPath.data(), nIn, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, strPath.data(), nIn, wstr.data(), static_cast<int>(wstr.size()));
    return fs::path(wstr);
}

std::string LocalFsString(const fs::path& path) { return Utf8(path.generic_wstring()); }

// Not fs::absolute: GetFullPathNameW would cut the very names this form keeps.
std::string ExactLocalPath(const std::string& strPath)
{
    fs::path full = LocalFsPath(strPath);
    if (!full.is_absolute()) {
        std::error_code ec;
        full = fs::current_path(ec) / full;
    }
    return Utf8(L"\\\\?\\" + full.make_preferred().wstring());
}

CTempShare::CTempShare(OwnFilesPlace ePlace)
{
    const fs::path base = fs::temp_directory_path();
    static std::atomic<unsigned> s_nNext{0};
    for (int nTry = 0; nTry < 100 && m_strRoot.empty(); ++nTry) {
        const fs::path root = base / ("corvane-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                      std::to_string(s_nNext.fetch_add(1)) + "-" + std::to_string(GetTickCount64()));
        std::error_code ec;
        if (fs::create_directory(root, ec))
            m_strRoot = root.string();
    }
    if (m_strRoot.empty()) {
        ADD_FAILURE() << "cannot make a temporary folder";
        return;
    }
    m_strShare = m_strRoot + "/share";
    for (const char* pszSub : {"/share", "/cfg", "/run"})
        fs::create_directory(m_strRoot + pszSub);
    SaveAndSet("XDG_CONFIG_HOME", m_strRoot + "/cfg", m_strOldConfig, m_bHadConfig);
    SaveAndSet("XDG_RUNTIME_DIR", m_strRoot + "/run", m_strOldRuntime, m_bHadRuntime);
    SaveAndSet("LOCALAPPDATA", ePlace == OwnFilesPlace::InShare ? m_strShare + "/AppData/Local" : m_strRoot + "/state",
               m_strOldState, m_bHadState);
    ClearSettings();
    if (ePlace == OwnFilesPlace::InShare) {
        // The settings in a file in the shared folder, as --config names one there.
        fs::create_directories(LocalFsPath(m_strShare + "/.config/Corvane"));
        fs::create_directories(LocalFsPath(m_strShare + "/run"));
        plat::SetProfilePath(m_strShare + "/.config/Corvane/" + plat::GetAppName() + ".ini");
        m_bNamedSettings = true;
    }
    EXPECT_EQ(StoreSharedFolder(m_strShare), 0);
}

CTempShare::~CTempShare()
{
    ClearSettings();
    if (m_bNamedSettings)
        plat::SetProfilePath("");
    Restore("XDG_CONFIG_HOME", m_strOldConfig, m_bHadConfig);
    Restore("XDG_RUNTIME_DIR", m_strOldRuntime, m_bHadRuntime);
    Restore("LOCALAPPDATA", m_strOldState, m_bHadState);
    if (!m_strRoot.empty()) {
        // Under Wine the host removes the tree: links made there are not all seen from
        // Windows (Wine lists no link whose target is missing).
        const CWineHost host;
        const std::wstring wstrRoot = LocalFsPath(ExactLocalPath(m_strRoot)).wstring();
        const std::string strHostRoot = UnderWine() && host.Ok() ? host.HostName(wstrRoot) : std::string();
        if (strHostRoot.size() > 1)
            host.Run({"/bin/rm", "-rf", "--", strHostRoot});
        else
            RemoveTree(wstrRoot);
    }
}

int ListenLoopback(uint16_t& port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof(sa);
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 || listen(s, 1) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        if (s != INVALID_SOCKET)
            closesocket(s);
        ADD_FAILURE() << "no free loopback port";
        return -1;
    }
    port = ntohs(sa.sin_port);
    return static_cast<int>(s);
}

bool CTestServer::WaitIdle(unsigned nAccepted, int timeoutMs)
{
    ListenPort();
    // Windows does not show where a thread waits: the count of connections taken is all
    // there is to wait for, so a test that reads the session list right after it may
    // meet the accept thread still at work.
    return WaitFor([&] { return m_Man.m_nAccepted.load() >= nAccepted; }, timeoutMs);
}

CTestClient::CTestClient(uint16_t port, const char* pszFrom, const char* pszTo, int nRecvBufBytes)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        ADD_FAILURE() << "no socket";
        return;
    }
    if (nRecvBufBytes > 0 && setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&nRecvBufBytes),
                                        sizeof(nRecvBufBytes)) != 0) {
        ADD_FAILURE() << "cannot set a receive buffer of " << nRecvBufBytes << " bytes";
        closesocket(s);
        return;
    }
    sockaddr_in sa{};
    if (pszFrom != nullptr) {
        sa.sin_family = AF_INET;
        if (inet_pton(AF_INET, pszFrom, &sa.sin_addr) != 1 ||
            bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
            ADD_FAILURE() << "cannot bind a client socket to " << pszFrom;
            closesocket(s);
            return;
        }
    }
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, pszTo, &sa.sin_addr) != 1) {
        ADD_FAILURE() << "not an address: " << pszTo;
        closesocket(s);
        return;
    }
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
        closesocket(s);
        return;
    }
    BOOL bOn = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bOn), sizeof(bOn));
    m_nFd = static_cast<int>(s);
}

CTestClient::~CTestClient()
{
    if (m_nFd >= 0)
        closesocket(AsSocket(m_nFd));
}

bool CTestClient::TrySend(const std::string& bytes)
{
    size_t nDone = 0;
    while (m_nFd >= 0 && nDone < bytes.size()) {
        const int n = send(AsSocket(m_nFd), bytes.data() + nDone, static_cast<int>(bytes.size() - nDone), 0);
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
    return m_nFd >= 0;
}

std::string CTestClient::RecvBytes(size_t n, int timeoutMs)
{
    std::string out;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[65536];
    while (m_nFd >= 0 && out.size() < n) {
        WSAPOLLFD pfd{AsSocket(m_nFd), POLLRDNORM, 0};
        const int rc = WSAPoll(&pfd, 1, RemainingMs(deadline));
        if (rc <= 0)
            break;
        const int got = recv(AsSocket(m_nFd), buf, static_cast<int>(std::min(sizeof(buf), n - out.size())), 0);
        if (got <= 0)
            break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

bool CTestClient::WaitClosed(int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    while (m_nFd >= 0) {
        WSAPOLLFD pfd{AsSocket(m_nFd), POLLRDNORM, 0};
        const int rc = WSAPoll(&pfd, 1, RemainingMs(deadline));
        if (rc == 0)
            return false;
        if (rc < 0)
            return true;
        if (recv(AsSocket(m_nFd), buf, sizeof(buf), 0) <= 0)
            return true;
    }
    return false;
}

bool UnderWine()
{
    const HMODULE hNtdll = GetModuleHandleW(L"ntdll.dll");
    return hNtdll != nullptr && GetProcAddress(hNtdll, "wine_get_version") != nullptr;
}

int UnreadBytes(plat::Socket s)
{
    u_long ulCount = 0;
    return ioctlsocket(static_cast<SOCKET>(s), FIONREAD, &ulCount) == 0 ? static_cast<int>(ulCount) : -1;
}

void ShrinkSocketBuffers(plat::Socket s)
{
    const int nBytes = 1;
    const char* p = reinterpret_cast<const char*>(&nBytes);
    EXPECT_EQ(setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_SNDBUF, p, sizeof(nBytes)), 0);
    EXPECT_EQ(setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_RCVBUF, p, sizeof(nBytes)), 0);
}

// Windows puts no limit on the size of a process's files.
FileSizeLimit::FileSizeLimit() {}

void FileSizeLimit::Lower(uint64_t) { ADD_FAILURE() << "Windows has no file-size limit to lower"; }

void FileSizeLimit::Lift() {}

// ---- test_files.h ------------------------------------------------------------------

// By the system's own calls rather than std::filesystem's, whose stat does not take the
// extended-length form (ExactLocalPath).
bool Exists(const std::string& path)
{
    return GetFileAttributesW(LocalFsPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;  // a link itself too
}

bool IsDir(const std::string& path)
{
    HANDLE h = CreateFileW(LocalFsPath(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool bDir = GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    CloseHandle(h);
    return bDir;
}

// (Wine shows the host's links so too.)
bool IsLink(const std::string& path)
{
    const DWORD dwAttrs = GetFileAttributesW(LocalFsPath(path).c_str());
    return dwAttrs != INVALID_FILE_ATTRIBUTES && (dwAttrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

int64_t LengthOf(const std::string& path)
{
    std::error_code ec;
    const uintmax_t n = fs::file_size(LocalFsPath(path), ec);
    return ec ? -1 : static_cast<int64_t>(n);
}

std::string ReadRange(const std::string& path, uint64_t off, size_t n)
{
    std::ifstream in(LocalFsPath(path), std::ios::binary);
    std::string s(n, '\0');
    in.seekg(static_cast<std::streamoff>(off));
    in.read(s.data(), static_cast<std::streamsize>(n));
    const std::streamsize got = in.gcount();
    s.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return s;
}

void MakeSparse(const std::string& path, uint64_t size, const std::vector<std::pair<uint64_t, std::string>>& chunks)
{
    HANDLE h = CreateFileW(LocalFsPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD dwDone = 0;
    DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &dwDone, nullptr);  // a hole where it can be
    FILE_END_OF_FILE_INFO eof{};
    eof.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    EXPECT_TRUE(SetFileInformationByHandle(h, FileEndOfFileInfo, &eof, sizeof(eof))) << path;
    for (const auto& [off, bytes] : chunks) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(off);
        at.OffsetHigh = static_cast<DWORD>(off >> 32);
        DWORD dwPut = 0;
        EXPECT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &dwPut, &at) &&
                    dwPut == bytes.size())
            << path << " at " << off;
    }
    CloseHandle(h);
}

std::string MakeLink(const std::string& target, const std::string& link, bool bDir)
{
    if (UnderWine())
        return MakeHostLink(target, link);
    const std::wstring wstrLink = LocalFsPath(link).make_preferred().wstring();
    const std::wstring wstrTarget = LocalFsPath(target).make_preferred().wstring();
    const DWORD dwFlags = bDir ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    // Developer mode lets an unprivileged user make links when asked to; systems before
    // it refuse the flag itself.
    if (CreateSymbolicLinkW(wstrLink.c_str(), wstrTarget.c_str(), dwFlags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
        (GetLastError() == ERROR_INVALID_PARAMETER && CreateSymbolicLinkW(wstrLink.c_str(), wstrTarget.c_str(), dwFlags)))
        return std::string();
    return "CreateSymbolicLinkW failed with error " + std::to_string(GetLastError());
}

uint64_t FreeBytes(const std::string& path)
{
    ULARGE_INTEGER ullCallerFree, ullTotal, ullFree;
    EXPECT_TRUE(GetDiskFreeSpaceExW(LocalFsPath(path).c_str(), &ullCallerFree, &ullTotal, &ullFree)) << path;
    return ullFree.QuadPart;
}

bool QueryVolume(const std::string& strPath, CVolumeFigures& figures)
{
    std::error_code ec;
    std::wstring wstrPath = fs::absolute(LocalFsPath(strPath), ec).make_preferred().wstring();
    if (wstrPath.back() != L'\\')
        wstrPath += L'\\';
    ULARGE_INTEGER ullCallerFree, ullTotal, ullFree;
    wchar_t szRoot[MAX_PATH + 1] = {};
    DWORD dwSectorsPerCluster = 0, dwBytesPerSector = 0, dwFreeClusters = 0, dwClusters = 0;
    if (!GetDiskFreeSpaceExW(wstrPath.c_str(), &ullCallerFree, &ullTotal, &ullFree) ||
        !GetVolumePathNameW(wstrPath.c_str(), szRoot, MAX_PATH) ||
        !GetDiskFreeSpaceW(szRoot, &dwSectorsPerCluster, &dwBytesPerSector, &dwFreeClusters, &dwClusters))
        return false;
    figures.ullClusterBytes = static_cast<uint64_t>(dwSectorsPerCluster) * dwBytesPerSector;
    figures.ullFreeBytes = ullFree.QuadPart;
    figures.ullTotalBytes = ullTotal.QuadPart;
    return true;
}

int64_t AllocatedBytes(const std::string& strPath)
{
    HANDLE h = CreateFileW(LocalFsPath(strPath).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    FILE_STANDARD_INFO info{};
    const bool bGot = GetFileInformationByHandleEx(h, FileStandardInfo, &info, sizeof(info)) != FALSE;
    CloseHandle(h);
    return bGot ? static_cast<int64_t>(info.AllocationSize.QuadPart) : -1;
}

bool HeldExclusively(const std::string& strPath)
{
    HANDLE h = CreateFileW(LocalFsPath(strPath).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

CHeldFile::CHeldFile(const std::string& strPath)
{
    HANDLE h = CreateFileW(LocalFsPath(strPath).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    m_bHeld = h != INVALID_HANDLE_VALUE;
    m_nHandle = m_bHeld ? reinterpret_cast<intptr_t>(h) : -1;
}

CHeldFile::~CHeldFile()
{
    if (m_bHeld)
        CloseHandle(reinterpret_cast<HANDLE>(m_nHandle));
}

// ---- the suites this build leaves out ------------------------------------------------

struct CLeftOut {
    const char* pszSuite;
    const char* pszWhy;
};

class NotOnWindows : public testing::TestWithParam<CLeftOut> {};

TEST_P(NotOnWindows, Suite) { GTEST_SKIP() << GetParam().pszSuite << ": " << GetParam().pszWhy; }

INSTANTIATE_TEST_SUITE_P(
    LinuxFixtures, NotOnWindows,
    testing::Values(
        CLeftOut{"beneath_test", "resolves paths with openat2 and the Linux layer's walk one name at a time"},
        CLeftOut{"faults_test", "injects faults with rlimits, /proc and raw POSIX sockets"},
        CLeftOut{"lock_test", "checks the lock file's folder by owner and mode (on Windows the mutex "
                              "keeps one copy: WinInstance)"},
        CLeftOut{"process_test", "reads /proc and maps files with mmap"},
        CLeftOut{"status_model_test", "awaits a copy's bytes written, which only the Linux copy worker reports "
                                      "(the shell's copy shows its kind and path)"},
        CLeftOut{"status_page_test", "the status page is served on Linux only (the dialog and tray show the status)"},
        CLeftOut{"status_test", "formats the status page, served on Linux only"},
        CLeftOut{"stream_test", "serves through lighttpd behind the Linux example's shell wrapper"}),
    [](const testing::TestParamInfo<CLeftOut>& info) { return std::string(info.param.pszSuite); });

// ---- what only the Windows layer does ------------------------------------------------

// Names that the plain Windows path forms turn into devices or streams reach files of
// the shared folder, or nothing: "CON" is a file there, never the console, and "a:b",
// the stream b of the file a, is refused like a missing file.
TEST(WinNames, DeviceNamesAreFilesAndStreamsAreRefused)
{
    CTempShare share;
    const plat::CShare s{share.Share()};
    share.WriteFile("a", "host");
    struct Case {
        const char* pszName;
        bool bOpens;
    };
    const Case cases[] = {{"CON", true}, {"nul.txt", true}, {"COM1", true}, {"a:b", false}, {"a::$DATA", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        plat::CPlatFile file;
        ASSERT_EQ(file.Open(s, share.Path(c.pszName), plat::OpenMode::UploadTarget) == 0, c.bOpens);
        if (!c.bOpens)
            continue;
        ASSERT_EQ(file.WriteAt(0, "data", 4), 0);
        EXPECT_EQ(file.Length(), 4);
        file.Close();
        std::vector<plat::FindEntry> entries;
        ASSERT_EQ(plat::EnumDirectory(s, share.Share(), entries), 0);
        EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                                [&](const plat::FindEntry& e) { return e.strName == c.pszName; }));
        EXPECT_EQ(plat::DeleteFile(s, share.Path(c.pszName)), 0);
    }
    EXPECT_EQ(share.ReadFile("a"), "host");
}

// A link in the shared folder to a folder and a file outside it: the handle the system
// opens through it lies outside, so nothing there is read, written or deleted, while
// wide links reach it.
TEST(WinLinks, LinksOutOfTheShareReachNothing)
{
    CTempShare share;
    const std::string strOutside = share.Root() + "/outside";
    fs::create_directories(strOutside);
    WriteLocalFile(strOutside + "/f", "keep");
    std::string strNoLinks = MakeLink(strOutside, share.Path("out"), true);
    if (strNoLinks.empty())
        strNoLinks = MakeLink(strOutside + "/f", share.Path("pw"), false);
    if (!strNoLinks.empty())
        GTEST_SKIP() << "no symbolic links here: " << strNoLinks;
    const plat::CShare s{share.Share()};
    plat::CPlatFile file;
    EXPECT_NE(file.Open(s, share.Path("pw"), plat::OpenMode::Download), 0);
    EXPECT_NE(file.Open(s, share.Path("out/f"), plat::OpenMode::Download), 0);
    EXPECT_NE(file.Open(s, share.Path("out/new"), plat::OpenMode::UploadTarget), 0);
    std::vector<plat::FindEntry> entries;
    EXPECT_EQ(plat::EnumDirectory(s, share.Path("out"), entries), -1);
    EXPECT_NE(plat::DeleteFile(s, share.Path("pw")), 0);
    EXPECT_NE(plat::DeleteFile(s, share.Path("out/f")), 0);
    EXPECT_TRUE(plat::LeadsOutOfShare(s, share.Path("out/f")));
    EXPECT_TRUE(plat::LeadsOutOfShare(s, share.Path("out") + "/."));  // the folder named last, itself
    plat::PathInfo info;
    ASSERT_EQ(plat::GetPathInfo(s, share.Path("out"), info), 0);
    EXPECT_TRUE(info.bLink);
    EXPECT_FALSE(info.bDir);  // a link to nothing
    EXPECT_EQ(ReadLocalFile(strOutside + "/f"), "keep");
    EXPECT_FALSE(Exists(strOutside + "/new"));

    const plat::CShare wide{share.Share(), true};
    ASSERT_EQ(file.Open(wide, share.Path("out/f"), plat::OpenMode::Download), 0);
    char sz[4] = {};
    EXPECT_EQ(file.ReadAt(0, sz, sizeof(sz)), 4);
    EXPECT_EQ(std::string(sz, 4), "keep");
}

// Windows has no way to shut a listener down: SockShutdown marks it, and an accept that
// is waiting on it, or comes later, returns Closed instead of waiting for ever.
TEST(WinSockets, ShutdownEndsAPendingAccept)
{
    // INVALID_SOCKET is Winsock's macro here, of the same value as plat::INVALID_SOCKET.
    const plat::Socket hListen = plat::SockCreateTcp();
    ASSERT_NE(hListen, INVALID_SOCKET);
    ASSERT_EQ(plat::SockBindLoopback(hListen, 0), 0);
    ASSERT_EQ(plat::SockListen(hListen, 4), 0);
    std::atomic<bool> bReturned{false};
    plat::AcceptError eError = plat::AcceptError::None;
    std::thread waiter([&] {
        plat::Socket s = plat::SockAccept(hListen, &eError);
        if (s != INVALID_SOCKET)
            plat::SockClose(s);
        bReturned = true;
    });
    EXPECT_FALSE(WaitFor([&] { return bReturned.load(); }, 200));  // no connection: it waits
    plat::SockShutdown(hListen);
    EXPECT_TRUE(WaitFor([&] { return bReturned.load(); }, 5000));
    waiter.join();
    EXPECT_EQ(eError, plat::AcceptError::Closed);
    plat::AcceptError eLater = plat::AcceptError::None;
    EXPECT_EQ(plat::SockAccept(hListen, &eLater), INVALID_SOCKET);
    EXPECT_EQ(eLater, plat::AcceptError::Closed);
    plat::SockClose(hListen);
}

// The shared folder lives in HKCU\Software\Corvane\<application name>\Config, "Path",
// and every mapping reads it there afresh: a value another program writes between two
// requests is the folder of the second.
TEST(WinRegistry, EveryMappingReadsTheFolderAfresh)
{
    CTempShare share;
    const std::string strKey = "Software\\Corvane\\" + plat::GetAppName() + "\\Config";
    const std::string strOther = share.Root() + "\\other";
    for (const std::string& strFolder : {share.Share(), strOther, share.Share()}) {
        SCOPED_TRACE(strFolder);
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, strKey.c_str(), "Path", REG_SZ, strFolder.c_str(),
                                  static_cast<DWORD>(strFolder.size() + 1)),
                  ERROR_SUCCESS);
        char szStb[] = "\\a.ts";
        std::string strLocal;
        ASSERT_EQ(GetLocalPath(szStb, strLocal), 0);
        EXPECT_EQ(fs::path(strLocal).lexically_normal(), (fs::path(strFolder) / "a.ts").lexically_normal())
            << strLocal;
    }
    ASSERT_EQ(RegDeleteKeyValueA(HKEY_CURRENT_USER, strKey.c_str(), "Path"), ERROR_SUCCESS);
    EXPECT_EQ(GetSharedFolder(), "");
}

// The named mutex "CORVANE" keeps a second copy out whoever holds it: the daemon, finding
// it, says so in one line and ends without serving.
TEST(WinInstance, HeldMutexRefusesTheDaemon)
{
    CTempShare share;
    HANDLE hMutex = CreateMutexW(nullptr, FALSE, L"CORVANE");
    ASSERT_NE(hMutex, nullptr);
    const bool bOurs = GetLastError() != ERROR_ALREADY_EXISTS;
    CDaemonProcess daemon(share.Root(), "second");
    const uint16_t port = FreeLoopbackPort();
    ASSERT_TRUE(daemon.Start({"--headless", "--port", std::to_string(port)})) << daemon.Error();
    EXPECT_TRUE(daemon.Exited(10000));
    EXPECT_EQ(daemon.Out(), "Corvane already exists...\n");
    EXPECT_FALSE(CTestClient(port).Connected());
    CloseHandle(hMutex);
    if (!bOurs)
        return;  // another copy of the daemon holds it too
    // Once the name is gone, the daemon starts.
    EXPECT_NE(daemon.StartListening({"--headless"}), 0) << daemon.Error() << "\n" << daemon.Err();
}

// Share modes: downloads share reading with one another; an upload target, an upload
// completion and a probe share with nobody, so each refuses, and is refused by, any other
// opening of the same file.
TEST(WinShareModes, DownloadsShareAndWritersExcludeAll)
{
    CTempShare share;
    share.WriteFile("f.ts", "0123456789");
    const plat::CShare s{share.Share()};
    using plat::OpenMode;
    struct Case {
        OpenMode eFirst, eSecond;
        bool bBoth;
    };
    const Case cases[] = {
        {OpenMode::Download, OpenMode::Download, true},
        {OpenMode::Download, OpenMode::UploadTarget, false},
        {OpenMode::UploadTarget, OpenMode::Download, false},
        {OpenMode::Download, OpenMode::UploadCompletion, false},
        {OpenMode::UploadCompletion, OpenMode::Download, false},
        {OpenMode::Download, OpenMode::Probe, false},
        {OpenMode::UploadTarget, OpenMode::UploadCompletion, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.eFirst)) + " then " + std::to_string(static_cast<int>(c.eSecond)));
        share.WriteFile("f.ts", "0123456789");
        plat::CPlatFile first, second;
        ASSERT_EQ(first.Open(s, share.Path("f.ts"), c.eFirst), 0);
        EXPECT_EQ(second.Open(s, share.Path("f.ts"), c.eSecond) == 0, c.bBoth);
        second.Close();
        first.Close();
        // Only the upload target truncates, and only the one that opened.
        EXPECT_EQ(share.ReadFile("f.ts"), c.eFirst == OpenMode::UploadTarget ? "" : "0123456789");
    }
}

// A junction (a mount-point reparse point) in the shared folder to a folder outside it:
// nothing is reached through it, as through a symbolic link.
TEST(WinLinks, JunctionOutOfTheShareReachesNothing)
{
    CTempShare share;
    const std::string strOutside = share.Root() + "\\outside";
    fs::create_directories(strOutside);
    WriteLocalFile(strOutside + "\\f", "keep");
    const std::string strJunction = share.Path("j");
    ASSERT_TRUE(CreateDirectoryA(strJunction.c_str(), nullptr));
    HANDLE h = CreateFileA(strJunction.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // REPARSE_DATA_BUFFER's mount-point form: the NT target "\??\C:\...", then the
    // printed one, each ended by a 0.
    std::wstring wstrTarget;
    const std::string strFull = fs::absolute(strOutside).string();
    for (char c : "\\??\\" + strFull)
        wstrTarget += static_cast<wchar_t>(c == '/' ? '\\' : c);
    const USHORT cbSub = static_cast<USHORT>(wstrTarget.size() * sizeof(wchar_t));
    std::vector<BYTE> buf(8 + 8 + cbSub + 2 + 2);
    auto put16 = [&](size_t at, USHORT v) { memcpy(buf.data() + at, &v, 2); };
    const DWORD dwTag = IO_REPARSE_TAG_MOUNT_POINT;
    memcpy(buf.data(), &dwTag, 4);
    put16(4, static_cast<USHORT>(buf.size() - 8));  // ReparseDataLength
    put16(8, 0);                                     // SubstituteNameOffset
    put16(10, cbSub);                                // SubstituteNameLength
    put16(12, static_cast<USHORT>(cbSub + 2));       // PrintNameOffset
    put16(14, 0);                                    // PrintNameLength
    memcpy(buf.data() + 16, wstrTarget.data(), cbSub);
    DWORD dwDone = 0;
    const bool bMade = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), static_cast<DWORD>(buf.size()),
                                       nullptr, 0, &dwDone, nullptr) != FALSE;
    const DWORD dwError = GetLastError();
    CloseHandle(h);
    if (!bMade || ReadLocalFile(strJunction + "\\f") != "keep")
        GTEST_SKIP() << "this system makes no junctions (FSCTL_SET_REPARSE_POINT: error " << dwError << ")";
    const plat::CShare s{share.Share()};
    plat::CPlatFile file;
    EXPECT_NE(file.Open(s, share.Path("j/f"), plat::OpenMode::Download), 0);
    EXPECT_NE(file.Open(s, share.Path("j/new"), plat::OpenMode::UploadTarget), 0);
    std::vector<plat::FindEntry> entries;
    EXPECT_EQ(plat::EnumDirectory(s, strJunction, entries), -1);
    EXPECT_NE(plat::DeleteFile(s, share.Path("j/f")), 0);
    EXPECT_TRUE(plat::LeadsOutOfShare(s, share.Path("j/f")));
    EXPECT_TRUE(plat::LeadsOutOfShare(s, share.Path("j") + "/."));
    EXPECT_EQ(ReadLocalFile(strOutside + "\\f"), "keep");
    EXPECT_FALSE(Exists(strOutside + "\\new"));
}

#endif  // _WIN32
