#include "app/launcher.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/msgbox.h"
#include "app/settings.h"
#include "net/sessman.h"
#include "platform/file.h"
#include "platform/profile.h"

namespace {

const char* const kLibraries[] = {"srvcore.dll", "srvcm.dll", "srvcs.dll", "samples.dll", "sqlite3.dll"};
const char* const kServerModules[] = {"serverd.exe", "httpd.exe", "Httpd.exe"};
const char* const kServerPort = "8880";
const char* const kEveryAddress = "0.0.0.0";  // the listen address of a daemon given none
constexpr int kFirstSuccess = 32;  // start results below this are failures
constexpr int kAccessDenied = 5;   // the start result of a program that may not be run
constexpr int kMissingLibrary = -1;
constexpr int kDataShared = -2;

// True when the folder lies inside the shared folder or is it: an STB could then put
// its own programs and libraries where the launcher runs them. Compared after links,
// "." and ".." are resolved on both sides.
bool InsideSharedFolder(const std::string& strFolder)
{
    const std::string strShare = GetSharedFolder();
    if (strShare.empty())
        return false;
    const std::string strRealShare = plat::CanonicalPath(strShare);
    const std::string strReal = plat::CanonicalPath(strFolder);
    if (strRealShare.empty() || strReal.empty())
        return false;  // a folder that does not exist holds nothing
    if (strRealShare == "/" || strReal == strRealShare)
        return true;
    return strReal.compare(0, strRealShare.size() + 1, strRealShare + "/") == 0;
}

void ShowStartFailure(IMessageBoxes& boxes, int nResult)
{
    char szText[64];
    snprintf(szText, sizeof(szText), "can't run streaming server : %d\n", nResult);
    boxes.Show(szText, IMessageBoxes::Icon::Warning);
}

}  // namespace

bool ProcessHasModule(int nPid, const char* pszModule) { return plat::ProcessHasModuleName(nPid, pszModule); }

int KillProcessesByModule(const char* pszModule)
{
    std::vector<int> pids;
    if (!plat::ListProcesses(pids))
        return 0;
    const int nSelf = plat::CurrentProcessId();
    for (int nPid : pids) {
        if (nPid != nSelf)
            plat::KillOwnProcessWithModule(nPid, pszModule);  // one that cannot be stopped is passed over
    }
    return 1;
}

void StopStreamingServer(CLauncherState& state)
{
    // The group first: what it started may run under any name.
    plat::KillProcessGroup(state.m_Server);
    state.m_Server = plat::DetachedGroup();
    StopStreamingServer();
}

void StopStreamingServer()
{
    for (const char* pszModule : kServerModules)
        KillProcessesByModule(pszModule);
}

int PrepareStreamingServer(CLauncherState& state)
{
    const std::string strData = plat::GetCurrentDir() + "/Data";
    if (InsideSharedFolder(strData))
        return kDataShared;
    for (const char* pszLibrary : kLibraries) {
        if (!plat::PathExists(strData + "/" + pszLibrary))
            return kMissingLibrary;
    }
    const std::string strConfig = strData + "/config";
    if (!plat::PathExists(strConfig))
        plat::MakeDirectory(strConfig);
    const std::string strIni = strConfig + "/config.ini";
    plat::IniWriteString(strIni, "http", "Documents Directory", GetSharedFolder());
    plat::IniWriteString(strIni, "http", "Remote Proxy Port", kServerPort);
    plat::IniWriteString(strIni, "server", "HTTP Port", kServerPort);
    // Where the daemon listens and whom it serves, for a server that is to do the same
    // (the example binds the address and refuses every other client); keys a server
    // does not know it passes over.
    plat::IniWriteString(strIni, "http", "Listen Address",
                         SessMan.m_strListen.empty() ? kEveryAddress : SessMan.m_strListen);
    plat::IniWriteString(strIni, "http", "Allowed Clients", SessMan.m_Allow.Text());
    const std::string strLogs = strData + "/logs";
    if (!plat::PathExists(strLogs))
        plat::MakeDirectory(strLogs);
    StopStreamingServer(state);
    return 1;
}

int PrepareStreamingServer()
{
    CLauncherState state;
    return PrepareStreamingServer(state);
}

void StartStreamingServer(IMessageBoxes& boxes, CLauncherState& state)
{
    const int nPrepared = PrepareStreamingServer(state);
    if (nPrepared == kDataShared) {
        ShowStartFailure(boxes, kAccessDenied);
        return;
    }
    if (nPrepared <= 0) {
        boxes.Show("Not found dll", IMessageBoxes::Icon::Error);
        return;
    }
    const int nResult = plat::StartDetached("serverd.exe", plat::GetCurrentDir() + "/Data", &state.m_Server);
    if (nResult < kFirstSuccess)
        ShowStartFailure(boxes, nResult);
}

void StartStreamingServer(IMessageBoxes& boxes)
{
    CLauncherState state;
    StartStreamingServer(boxes, state);
}
