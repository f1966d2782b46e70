// The streaming-server launcher, in a temporary working directory with a stand-in server:
// a script that records its start and working directory, then waits on a pipe.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/launcher.h"
#include "app/msgbox.h"
#include "app/settings.h"
#include "platform/process.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

class CRecordingBoxes : public IMessageBoxes {
public:
    void Show(const std::string& strText, Icon eIcon) override { shown.push_back({strText, eIcon}); }
    std::vector<std::pair<std::string, Icon>> shown;
};

const char* const kLibraries[] = {"srvcore.dll", "srvcm.dll", "srvcs.dll", "samples.dll", "sqlite3.dll"};

// A working directory with Data/ and, when asked, the five libraries and a stand-in server.
class CLauncherDir {
public:
    explicit CLauncherDir(const CTempShare& share, bool bLibraries = true)
        : m_strCwd(share.Root() + "/cwd"), m_strOldCwd(fs::current_path().string())
    {
        fs::create_directories(Data());
        if (bLibraries)
            for (const char* pszLibrary : kLibraries)
                WriteLocalFile(Data() + "/" + pszLibrary, "");
        m_strFifo = share.Root() + "/hold";
        mkfifo(m_strFifo.c_str(), 0600);
        for (const char* pszName : {"serverd.exe", "httpd.exe", "Httpd.exe", "SERVERD.EXE"})
            WriteScript(pszName);
        fs::current_path(m_strCwd);
    }
    ~CLauncherDir()
    {
        for (int nPid : Started())
            kill(nPid, SIGKILL);
        fs::current_path(m_strOldCwd);
    }

    std::string Data() const { return m_strCwd + "/Data"; }
    std::string Ini() const { return Data() + "/config/config.ini"; }
    // The ids of the stand-ins started so far, in order.
    std::vector<int> Started() const
    {
        std::vector<int> pids;
        std::ifstream in(m_strCwd + "/started");
        for (int nPid; in >> nPid;)
            pids.push_back(nPid);
        return pids;
    }

    // Replaces serverd.exe with a script that records its start, then runs strCommand.
    void WriteWrapper(const std::string& strCommand) const
    {
        const std::string strPath = Data() + "/serverd.exe";
        WriteLocalFile(strPath, "#!/bin/sh\necho $$ >> \"" + m_strCwd + "/started\"\n" + strCommand + "\n");
        chmod(strPath.c_str(), 0755);
    }

private:
    // The script blocks in opening a pipe nobody writes to: no child process, so its
    // command name stays the script's own name.
    void WriteScript(const char* pszName) const
    {
        const std::string strPath = Data() + "/" + pszName;
        WriteLocalFile(strPath, "#!/bin/sh\npwd > \"" + m_strCwd + "/cwd." + pszName + "\"\necho $$ >> \"" +
                                    m_strCwd + "/started\"\nread line < \"" + m_strFifo + "\"\n");
        chmod(strPath.c_str(), 0755);
    }

    std::string m_strCwd, m_strOldCwd, m_strFifo;
};

// True while the process exists and is not a zombie.
bool Alive(int nPid)
{
    std::ifstream in("/proc/" + std::to_string(nPid) + "/stat");
    std::string strPid, strComm, strState;
    return static_cast<bool>(in >> strPid >> strComm >> strState) && strState != "Z";
}

// The command name of the process, without its line end.
std::string Comm(int nPid)
{
    std::string strComm = ReadLocalFile("/proc/" + std::to_string(nPid) + "/comm");
    return strComm.empty() ? strComm : strComm.substr(0, strComm.size() - 1);
}

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
        ASSERT_TRUE(WaitFor([&] { return dir.Started().size() == 1; }));
        EXPECT_EQ(ReadLocalFile(dir.Data() + "/../cwd.serverd.exe"), dir.Data() + "\n");
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
        SCOPED_TRACE("names are compared byte for byte: SERVERD.EXE survives, httpd.exe and Httpd.exe do not");
        CTempShare share;
        CLauncherDir dir(share);
        for (const char* pszName : {"SERVERD.EXE", "httpd.exe", "Httpd.exe"})
            ASSERT_EQ(plat::StartDetached(pszName, dir.Data()), 33) << pszName;
        ASSERT_TRUE(WaitFor([&] { return dir.Started().size() == 3; }));
        std::vector<int> pids = dir.Started();
        StopStreamingServer();
        // Which stand-in is which: each wrote its working directory under its own name
        // in start order, so match the ids through /proc/PID/comm.
        for (int nPid : pids) {
            std::string strComm = ReadLocalFile("/proc/" + std::to_string(nPid) + "/comm");
            if (strComm == "SERVERD.EXE\n")
                EXPECT_TRUE(Alive(nPid));
            else
                EXPECT_TRUE(WaitFor([&] { return !Alive(nPid); })) << strComm;
        }
    }
    {
        SCOPED_TRACE("a wrapper that runs on under another name is stopped through its group, on OK and on Exit");
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
            fs::create_directory_symlink(share.Root() + "/cwd", share.Root() + "/link-to-cwd");
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
