#include "app/launcher.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/msgbox.h"
#include "app/settings.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/profile.h"

namespace {

const char* const kLibraries[] = {"srvcore.dll", "srvcm.dll", "srvcs.dll", "samples.dll", "sqlite3.dll"};
const char* const kServerModules[] = {"serverd.exe", "httpd.exe", "Httpd.exe"};
const char* const kServerPort = "8880";
constexpr int kFirstSuccess = 32;  // start results below this are failures

}  // namespace

bool ProcessHasModule(int nPid, const char* pszModule) { return plat::ProcessHasModuleName(nPid, pszModule); }

int KillProcessesByModule(const char* pszModule)
{
    std::vector<int> pids;
    if (!plat::ListProcesses(pids))
        return 0;
    for (int nPid : pids) {
        if (ProcessHasModule(nPid, pszModule))
            plat::KillProcess(nPid);  // one that cannot be stopped is passed over
    }
    return 1;
}

void StopStreamingServer()
{
    for (const char* pszModule : kServerModules)
        KillProcessesByModule(pszModule);
}

int PrepareStreamingServer()
{
    const std::string strData = plat::GetCurrentDir() + "/Data";
    for (const char* pszLibrary : kLibraries) {
        if (!plat::PathExists(strData + "/" + pszLibrary))
            return -1;
    }
    const std::string strConfig = strData + "/config";
    if (!plat::PathExists(strConfig))
        plat::MakeDirectory(strConfig);
    const std::string strIni = strConfig + "/config.ini";
    plat::IniWriteString(strIni, "http", "Documents Directory", GetSharedFolder());
    plat::IniWriteString(strIni, "http", "Remote Proxy Port", kServerPort);
    plat::IniWriteString(strIni, "server", "HTTP Port", kServerPort);
    const std::string strLogs = strData + "/logs";
    if (!plat::PathExists(strLogs))
        plat::MakeDirectory(strLogs);
    StopStreamingServer();
    return 1;
}

void StartStreamingServer(IMessageBoxes& boxes)
{
    if (PrepareStreamingServer() <= 0) {
        boxes.Show("Not found dll", IMessageBoxes::Icon::Error);
        return;
    }
    const int nResult = plat::StartDetached("serverd.exe", plat::GetCurrentDir() + "/Data");
    if (nResult < kFirstSuccess) {
        char szText[64];
        snprintf(szText, sizeof(szText), "can't run streaming server : %d\n", nResult);
        boxes.Show(szText, IMessageBoxes::Icon::Warning);
    }
}
