// The streaming-server launcher, in a temporary working directory with stand-in servers
// that record their start and working directory, then wait until they are ended: on
// Linux a script waiting on a pipe, on Windows a copy of this test program, which turns
// into a stand-in when the environment names a record folder.
// The suite's name begins with "Streaming": ctest runs such suites one at a time, since
// the launcher stops every serverd.exe of this user (CMakeLists.txt).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/launcher.h"
#include "app/msgbox.h"
#include "app/settings.h"
#include "net/sessman.h"
#include "platform/process.h"
#include "test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
// The environment variable that makes a copy of this program a stand-in server: it names
// the folder where the stand-in records itself.
const wchar_t* const kpszStandIn = L"CORVANE_LAUNCHER_STANDIN";

// A stand-in appends its process id to <folder>/started, writes its working directory to
// <folder>/cwd.<its file name>, and waits until it is ended. Runs before main, so that a
// stand-in never gets as far as the tests.
const bool g_bStandIn = [] {
    wchar_t szRecord[4096];
    const DWORD n = GetEnvironmentVariableW(kpszStandIn, szRecord, 4096);
    if (n == 0 || n >= 4096)
        return false;
    wchar_t szExe[4096];
    if (GetModuleFileNameW(nullptr, szExe, 4096) == 0)
        return false;
    const fs::path record(szRecord);
    std::ofstream(record / (L"cwd." + fs::path(szExe).filename().wstring()), std::ios::binary)
        << fs::current_path().string() << "\n";
    std::ofstream(record / "started", std::ios::app | std::ios::binary) << GetCurrentProcessId() << "\n";
    Sleep(INFINITE);
    return true;
}();
#endif

class CRecordingBoxes : public IMessageBoxes {
public:
    void Show(const std::string& strText, Icon eIcon) override { shown.push_back({strText, eIcon}); }
    std::vector<std::pair<std::string, Icon>> shown;
};

const char* const kLibraries[] = {"srvcore.dll", "srvcm.dll", "srvcs.dll", "samples.dll", "sqlite3.dll"};
const char* const kStandIns[] = {"serverd.exe", "httpd.exe", "Httpd.exe", "SERVERD.EXE"};

// True while the process exists (and, on Linux, is not a zombie).
bool Alive(int nPid)
{
#ifdef _WIN32
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(nPid));
    if (h == nullptr)
        return false;
    const bool bRunning = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return bRunning;
#else
    std::ifstream in("/proc/" + std::to_string(nPid) + "/stat");
    std::string strPid, strComm, strState;
    return static_cast<bool>(in >> strPid >> strComm >> strState) && strState != "Z";
#endif
}

void Kill(int nPid)
{
#ifdef _WIN32
    if (HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(nPid))) {
        TerminateProcess(h, 1);
        CloseHandle(h);
    }
#else
    kill(nPid, SIGKILL);
#endif
}

// A working directory with Data/ and, when asked, the five libraries and stand-in
// servers: serverd.exe, httpd.exe, Httpd.exe and SERVERD.EXE in Data, each also in a
// folder of its own below Data (names that differ only in case are one name on Windows).
class CLauncherDir {
public:
    explicit CLauncherDir(const CTempShare& share, bool bLibraries = true)
        : m_strCwd(share.Root() + "/cwd"), m_strOldCwd(fs::current_path().string())
    {
        fs::create_directories(Data());
        if (bLibraries)
            for (const char* pszLibrary : kLibraries)
                WriteLocalFile(Data() + "/" + pszLibrary, "");
#ifdef _WIN32
        SetEnvironmentVariableW(kpszStandIn, fs::path(m_strCwd).wstring().c_str());
#else
        m_strFifo = share.Root() + "/hold";
        mkfifo(m_strFifo.c_str(), 0600);
#endif
        for (const char* pszName : kStandIns) {
            fs::create_directory(Folder(pszName));
            WriteStandIn(Folder(pszName) + "/" + pszName);
        }
        WriteStandIn(Data() + "/serverd.exe");
        fs::current_path(m_strCwd);
    }
    ~CLauncherDir()
    {
        for (int nPid : Started())
            Kill(nPid);
#ifdef _WIN32
        for (int nPid : Started())
            WaitFor([&] { return !Alive(nPid); });  // a running program's file cannot be removed
        SetEnvironmentVariableW(kpszStandIn, nullptr);
#endif
        fs::current_path(m_strOldCwd);
    }

    std::string Data() const { return m_strCwd + "/Data"; }
    std::string Ini() const { return Data() + "/config/config.ini"; }
    // The folder below Data that holds the stand-in of this name (a number: names that
    // differ only in case are one name on Windows).
    std::string Folder(const std::string& strName) const
    {
        size_t i = 0;
        while (i < std::size(kStandIns) && strName != kStandIns[i])
            ++i;
        return Data() + "/stand-in-" + std::to_string(i);
    }
    // The working directory the stand-in of this name recorded (empty before it has).
    std::string CwdOf(const std::string& strName) const
    {
        std::string str = ReadLocalFile(m_strCwd + "/cwd." + strName);
        return str.empty() ? str : str.substr(0, str.size() - 1);
    }
    // The ids of the stand-ins started so far, in order.
    std::vector<int> Started() const
    {
        std::vector<int> pids;
        std::ifstream in(m_strCwd + "/started");
        for (int nPid; in >> nPid;)
            pids.push_back(nPid);
        return pids;
    }

#ifndef _WIN32
    // Replaces serverd.exe with a script that records its start, then runs strCommand.
    void WriteWrapper(const std::string& strCommand) const
    {
        const std::string strPath = Data() + "/serverd.exe";
        WriteLocalFile(strPath, "#!/bin/sh\necho $$ >> \"" + m_strCwd + "/started\"\n" + strCommand + "\n");
        chmod(strPath.c_str(), 0755);
    }
#endif

private:
    void WriteStandIn(const std::string& strPath) const
    {
        const std::string strName = fs::path(strPath).filename().string();
#ifdef _WIN32
        wchar_t szExe[4096];
        std::error_code ec;
        GetModuleFileNameW(nullptr, szExe, 4096);
        fs::copy_file(szExe, fs::path(strPath), fs::copy_options::overwrite_existing, ec);
        EXPECT_FALSE(ec) << strPath << ": " << ec.message();
#else
        // The script blocks in opening a pipe nobody writes to: no child process, so its
        // command name stays the script's own name.
        WriteLocalFile(strPath, "#!/bin/sh\npwd > \"" + m_strCwd + "/cwd." + strName + "\"\necho $$ >> \"" +
                                    m_strCwd + "/started\"\nread line < \"" + m_strFifo + "\"\n");
        chmod(strPath.c_str(), 0755);
#endif
    }

    std::string m_strCwd, m_strOldCwd, m_strFifo;
};

#ifndef _WIN32
// The command name of the process, without its line end.
std::string Comm(int nPid)
{
    std::string strComm = ReadLocalFile("/proc/" + std::to_string(nPid) + "/comm");
    return strComm.empty() ? strComm : strComm.substr(0, strComm.size() - 1);
}
#endif

}  // namespace

// Every case runs in one test: the launcher stops servers by name machine-wide, so
// cases running side by side would stop each other's stand-ins.
TEST(StreamingLauncher, ChecksConfiguresStopsAndStarts)
{
    {
        SCOPED_TRACE("a missing library: a message, nothing created, nothing started");
        CTempShare share;
        CLauncherDir dir(share, false);
        CRecordingBoxes boxes;
        StartStreamingServer(boxes);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].first, "Not found dll");
        EXPECT_EQ(boxes.shown[0].second, IMessageBoxes::Icon::Error);
        EXPECT_FALSE(fs::exists(dir.Data() + "/config"));
        EXPECT_FALSE(fs::exists(dir.Data() + "/logs"));
        EXPECT_TRUE(dir.Started().empty());
    }
    {
        SCOPED_TRACE("first start: folders made, keys written, server started in Data; restart stops it");
        CTempShare share;
        CLauncherDir dir(share);
        CRecordingBoxes boxes;
        StartStreamingServer(boxes);
        EXPECT_TRUE(boxes.shown.empty());
        EXPECT_TRUE(fs::is_directory(dir.Data() + "/config"));
        EXPECT_TRUE(fs::is_directory(dir.Data() + "/logs"));
        EXPECT_EQ(IniValue(dir.Ini(), "http", "Documents Directory"), share.Share());
        EXPECT_EQ(IniValue(dir.Ini(), "http", "Remote Proxy Port"), "8880");
        EXPECT_EQ(IniValue(dir.Ini(), "server", "HTTP Port"), "8880");
        // The daemon's listen address and allow-list, for the server to keep to.
        EXPECT_EQ(IniValue(dir.Ini(), "http", "Listen Address"), "0.0.0.0");
        EXPECT_EQ(IniValue(dir.Ini(), "http", "Allowed Clients"), g_pszDefaultAllow);
        ASSERT_TRUE(WaitFor([&] { return dir.Started().size() == 1 && !dir.CwdOf("serverd.exe").empty(); }));
        std::error_code ec;
        EXPECT_TRUE(fs::equivalent(dir.CwdOf("serverd.exe"), dir.Data(), ec)) << dir.CwdOf("serverd.exe");
        const int nFirst = dir.Started()[0];
        EXPECT_TRUE(Alive(nFirst));

        StartStreamingServer(boxes);  // OK again: the running server is replaced
        ASSERT_TRUE(WaitFor([&] { return dir.Started().size() == 2; }));
        EXPECT_TRUE(WaitFor([&] { return !Alive(nFirst); }));
        EXPECT_TRUE(Alive(dir.Started()[1]));
        StopStreamingServer();
        EXPECT_TRUE(WaitFor([&] { return !Alive(dir.Started()[1]); }));
    }
    {
        SCOPED_TRACE("an existing configuration keeps everything else; an empty folder is written empty");
        CTempShare share;
        CLauncherDir dir(share);
        fs::create_directories(dir.Data() + "/config");
        WriteLocalFile(dir.Ini(), "; the server's own settings\n[http]\nIndex = index.html\n"
                                  "Documents Directory = /old\n[log]\nLevel = 3\n");
        ASSERT_EQ(StoreSharedFolder(""), 0);
        EXPECT_EQ(PrepareStreamingServer(), 1);
        EXPECT_EQ(IniValue(dir.Ini(), "http", "Documents Directory"), "");
        EXPECT_EQ(IniValue(dir.Ini(), "http", "Index"), "index.html");
        EXPECT_EQ(IniValue(dir.Ini(), "log", "Level"), "3");
        EXPECT_EQ(IniValue(dir.Ini(), "server", "HTTP Port"), "8880");
        EXPECT_NE(ReadLocalFile(dir.Ini()).find("; the server's own settings"), std::string::npos);
    }
    {
        SCOPED_TRACE("the daemon's --listen and --allow reach the configuration");
        CTempShare share;
        CLauncherDir dir(share);
        const std::string strOldListen = SessMan.m_strListen;
        const CAllowList oldAllow = SessMan.m_Allow;
        SessMan.m_strListen = "127.0.0.2";
        ASSERT_EQ(SessMan.m_Allow.Parse("10.1.2.3, 192.168.7.0/24"), 0);
        EXPECT_EQ(PrepareStreamingServer(), 1);
        SessMan.m_strListen = strOldListen;
        SessMan.m_Allow = oldAllow;
        EXPECT_EQ(IniValue(dir.Ini(), "http", "Listen Address"), "127.0.0.2");
        EXPECT_EQ(IniValue(dir.Ini(), "http", "Allowed Clients"), "10.1.2.3/32,192.168.7.0/24");
    }
    {
        SCOPED_TRACE("names are compared byte for byte: SERVERD.EXE survives, httpd.exe and Httpd.exe do not");
        CTempShare share;
        CLauncherDir dir(share);
        // One at a time, so that the id each adds to the record is its own.
        std::vector<std::pair<std::string, int>> started;
        for (const char* pszName : {"SERVERD.EXE", "httpd.exe", "Httpd.exe"}) {
            ASSERT_EQ(plat::StartDetached(pszName, dir.Folder(pszName)), 33) << pszName;
            ASSERT_TRUE(WaitFor([&] { return dir.Started().size() == started.size() + 1; })) << pszName;
            started.emplace_back(pszName, dir.Started().back());
        }
        StopStreamingServer();
        for (const auto& [strName, nPid] : started) {
            if (strName == "SERVERD.EXE")
                EXPECT_TRUE(Alive(nPid));
            else
                EXPECT_TRUE(WaitFor([&, nPid = nPid] { return !Alive(nPid); })) << strName;
        }
    }
    {
        SCOPED_TRACE("a wrapper that runs on under another name is stopped through its group, on OK and on Exit");
#ifndef _WIN32  // the wrapper is a shell script that execs another program
        CTempShare share;
        CLauncherDir dir(share);
        dir.WriteWrapper("exec sleep 1000");
        CLauncherState state;
        CRecordingBoxes boxes;
        StartStreamingServer(boxes, state);
        ASSERT_TRUE(WaitFor([&] { return dir.Started().size() == 1 && Comm(dir.Started()[0]) == "sleep"; }));
        const int nFirst = dir.Started()[0];
        StartStreamingServer(boxes, state);  // OK again
        EXPECT_TRUE(boxes.shown.empty());
        ASSERT_TRUE(WaitFor([&] { return dir.Started().size() == 2 && Comm(dir.Started()[1]) == "sleep"; }));
        EXPECT_TRUE(WaitFor([&] { return !Alive(nFirst); }));
        EXPECT_TRUE(Alive(dir.Started()[1]));
        StopStreamingServer(state);  // Exit
        EXPECT_TRUE(WaitFor([&] { return !Alive(dir.Started()[1]); }));
#endif
    }
    {
        SCOPED_TRACE("Data inside the shared folder: refused with 5, nothing written or started");
        struct Case {
            const char* pszShare;  // below the temporary root
            bool bRefused;
        };
        const Case cases[] = {{"cwd", true}, {"cwd/Data", true}, {"link-to-cwd", true}, {"cwd/Dat", false}};
        for (const Case& c : cases) {
            SCOPED_TRACE(c.pszShare);
            CTempShare share;
            CLauncherDir dir(share);
            fs::create_directories(share.Root() + "/cwd/Dat");
            std::error_code ec;
            fs::create_directory_symlink(share.Root() + "/cwd", share.Root() + "/link-to-cwd", ec);
            if (ec && std::string(c.pszShare) == "link-to-cwd")
                continue;  // Windows lets only a privileged user make links, and Wine none at all
            ASSERT_EQ(StoreSharedFolder(share.Root() + "/" + c.pszShare), 0);
            CLauncherState state;
            CRecordingBoxes boxes;
            StartStreamingServer(boxes, state);
            if (c.bRefused) {
                ASSERT_EQ(boxes.shown.size(), 1u);
                EXPECT_EQ(boxes.shown[0].first, "can't run streaming server : 5\n");
                EXPECT_EQ(boxes.shown[0].second, IMessageBoxes::Icon::Warning);
                EXPECT_FALSE(fs::exists(dir.Data() + "/config"));
                EXPECT_EQ(state.m_Server.nGroup, 0);
            } else {
                EXPECT_TRUE(boxes.shown.empty());
                EXPECT_TRUE(fs::exists(dir.Ini()));
                StopStreamingServer(state);
            }
        }
    }
    {
        SCOPED_TRACE("the server program missing: the start fails with the platform's value");
        CTempShare share;
        CLauncherDir dir(share);
        fs::remove(dir.Data() + "/serverd.exe");
        CRecordingBoxes boxes;
        StartStreamingServer(boxes);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].first, "can't run streaming server : 2\n");
        EXPECT_EQ(boxes.shown[0].second, IMessageBoxes::Icon::Warning);
    }
}
