#include "app/corvaneapp.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/daemonstatus.h"
#include "app/launcher.h"
#include "app/msgbox.h"
#include "app/ownfiles.h"
#include "app/settings.h"
#include "app/status/statuslisten.h"
#include "app/status/statustext.h"
#include "app/stbaddress.h"
#ifdef CORVANE_STATUS_PAGE
#include "app/status/statusclient.h"
#include "app/status/statuspage.h"
#endif
#include "fs/names.h"
#include "net/allowlist.h"
#include "net/sessman.h"
#include "platform/instance.h"
#include "platform/profile.h"
#include "platform/log.h"
#include "platform/service.h"
#include "platform/share.h"
#include "platform/signals.h"
#include "platform/socket.h"
#include "xfer/journal.h"

CCorvaneApp theApp;

namespace {

// Stores the folder given with --share in the form the dialog stores it. 0, or -1
// with a message on standard error.
int StoreShareOption(const std::string& strShare)
{
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(strShare, ec);
    if (ec || !std::filesystem::is_directory(abs, ec)) {
        fprintf(stderr, "corvane: '%s' is not a folder\n", strShare.c_str());
        return -1;
    }
    const std::string strFolder = NormaliseFolder(abs.lexically_normal().string());
    if (StoreSharedFolder(strFolder) != 0) {
        fprintf(stderr, "corvane: cannot store the shared folder in %s\n", plat::GetProfilePath().c_str());
        return -1;
    }
    const std::string strNote = OwnFilesNote(strFolder);
    if (!strNote.empty())
        fprintf(stderr, "corvane: %s\n", strNote.c_str());
    return 0;
}

// The file --config names, made absolute: the settings are read again at every request.
std::string ConfigFileOption(const std::string& strFile)
{
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(strFile, ec);
    return ec ? strFile : abs.lexically_normal().string();
}

// A stored value that is not of its form.
int BadSetting(const char* pszKey, const std::string& strValue, const std::string& strForm, std::string& strError)
{
    strError = std::string("[") + g_pszConfigSection + "] " + pszKey + "=" + strValue + " in " +
               plat::GetProfilePath() + ": " + strForm;
    return -1;
}

#ifdef CORVANE_STATUS_PAGE
// Serves the status page to the hosts that may connect as STBs. A page that cannot be had
// is said in one line and the daemon serves the STBs without it: the page only shows what
// the daemon does, and whatever holds its address (another program, or a desktop user's
// Corvane beside the system service, both on 127.0.0.1:2009 by default) must not keep the
// STBs from their files.
void StartStatusPage(CStatusPage& page, const CStatusListen& listen)
{
    if (listen.bOff)
        return;
    const std::string strWhere = StatusListenText(listen);
    if (page.Start(listen, SessMan.m_Allow, [] { return DaemonStatus(SessMan); }) != 0) {
        fprintf(stderr, "corvane: the status page cannot listen at %s (in use, or not an address of this computer); "
                        "serving STBs without it\n",
                strWhere.c_str());
        return;
    }
    plat::Trace("status page at http://%s/\n", strWhere.c_str());
}
#endif

}  // namespace

int StatusListenOption(const CCmdLine& cmd, CStatusListen& listen, std::string& strError)
{
    listen = CStatusListen{};
    if (!kStatusPageServed) {
        listen.bOff = true;
        return 0;
    }
    if (cmd.bHasStatusListen)
        return ParseStatusListen(cmd.strStatusListen.c_str(), listen);  // checked as it was parsed
    const std::string strStored = GetConfigValue(g_pszStatusListenKey);
    const std::string strValue = strStored.empty() ? std::string(g_pszDefaultStatusListen) : strStored;
    if (ParseStatusListen(strValue.c_str(), listen) != 0)
        return BadSetting(g_pszStatusListenKey, strStored, std::string("not ") + g_pszStatusListenForm, strError);
    return 0;
}

int ApplyNetOptions(const CCmdLine& cmd, CSessMan& man, std::string& strError)
{
    std::string strListen = cmd.strListen;
    if (!cmd.bHasListen) {
        strListen = GetConfigValue(g_pszListenKey);
        uint32_t ulAddr = 0;
        if (!strListen.empty() && ParseIPv4(strListen.c_str(), ulAddr) != 0)
            return BadSetting(g_pszListenKey, strListen, "not one IPv4 address", strError);
    }
    CAllowList allow;
    const std::string strAllow = cmd.bHasAllow ? cmd.strAllow : GetConfigValue(g_pszAllowKey);
    if (!strAllow.empty() && allow.Parse(strAllow.c_str()) != 0)
        return BadSetting(g_pszAllowKey, strAllow, "not IPv4 addresses and prefixes separated by commas, nor 'all'",
                          strError);
    int anCaps[2] = {cmd.nMaxSessions, cmd.nMaxSessionsPerHost};
    const char* const apszCapKeys[2] = {g_pszMaxSessionsKey, g_pszMaxSessionsPerHostKey};
    const int anDefaults[2] = {kMaxSessions, kMaxSessionsPerHost};
    for (int i = 0; i < 2; ++i) {
        if (anCaps[i] != 0)
            continue;
        const std::string strValue = GetConfigValue(apszCapKeys[i]);
        anCaps[i] = anDefaults[i];
        if (!strValue.empty() && ParseSessionCap(strValue.c_str(), anCaps[i]) != 0)
            return BadSetting(apszCapKeys[i], strValue, "not a number from 1 to " + std::to_string(kMaxSessionCap),
                              strError);
    }
    bool abSwitches[2] = {cmd.bReadOnly, cmd.bWideLinks};
    const char* const apszSwitchKeys[2] = {g_pszReadOnlyKey, g_pszWideLinksKey};
    for (int i = 0; i < 2; ++i) {
        const std::string strValue = GetConfigValue(apszSwitchKeys[i]);
        bool bStored = false;
        if (!strValue.empty() && ParseSwitch(strValue.c_str(), bStored) != 0)
            return BadSetting(apszSwitchKeys[i], strValue, "not 1 or 0", strError);
        abSwitches[i] = abSwitches[i] || bStored;
    }
    // The code page: the command line's (checked as it was parsed) fixes it; otherwise the
    // stored one, read again with the folder at every mapping, must be usable now.
    const std::string strCharset = GetShareSetting().strCharset;
    if (!cmd.bHasCharset && !strCharset.empty() && CheckStbCodePage(strCharset) != 0)
        return BadSetting(g_pszCharsetKey, strCharset,
                          "not a code page such as CP1252, CP949, CP932, GBK, BIG5 or ISO-8859-1", strError);
    man.m_bFixedCharset = cmd.bHasCharset;
    man.m_strCharset = cmd.bHasCharset ? cmd.strCharset : std::string();
    man.m_strListen = strListen;
    man.m_Allow = allow;
    man.m_nMaxSessions = anCaps[0];
    man.m_nMaxSessionsPerHost = anCaps[1];
    man.m_bReadOnly = abSwitches[0];
    man.m_bWideLinks = abSwitches[1];
    return 0;
}

int CCorvaneApp::InitInstance(const CCmdLine& cmd, IShellUi* pUi)
{
    if (plat::AcquireInstanceGuard("CORVANE") == 0) {
        plat::Trace("Corvane already exists...\n");
        fprintf(stderr, "corvane: another copy is already running\n");
        return 1;
    }
    CStderrBoxes stderrBoxes;
    IMessageBoxes& boxes = pUi != nullptr ? pUi->Boxes() : stderrBoxes;
    // Every later reading and writing of the settings goes to the file named.
    if (cmd.bHasConfig)
        plat::SetProfilePath(ConfigFileOption(cmd.strConfig));
    // The settings are in place before the first session can map a path.
    if (cmd.bHasShare && StoreShareOption(cmd.strShare) != 0)
        return 2;
    if (GetSharedFolder().empty())
        fprintf(stderr, "corvane: no shared folder is set; requests are refused until one is chosen\n");

    std::string strError;
    CStatusListen statusListen;
    if (ApplyNetOptions(cmd, SessMan, strError) != 0 || StatusListenOption(cmd, statusListen, strError) != 0) {
        fprintf(stderr, "corvane: %s\n", strError.c_str());
        return 2;
    }
    // What a crash left of the uploads in progress goes before any session can begin
    // new ones (the single-instance guard keeps another copy from starting meanwhile).
    CleanUpJournal(GetSharedFolder(), SessMan.m_bWideLinks);
    SessMan.m_usPort = cmd.usPort;
    SessMan.m_bInteractive = pUi != nullptr;
    // The service manager's status line: "2 STBs; sending rec.ts 43 %".
    SessMan.m_fnServiceStatus = SummaryLine;
    // Which way paths are resolved (one name at a time where the kernel has no openat2).
    plat::Trace("paths resolved %s\n", plat::PathResolutionName());
    const int r = SessMan.Create();
    if (r != 0) {
        plat::Trace("SessMan.Create()=%d\n", r);
        boxes.Show("WINSOCK ERROR", IMessageBoxes::Icon::Error);
        SessMan.Destroy();
        return 1;
    }
    if (pUi == nullptr) {
        // Where STBs reach this computer, once, with --quiet too: not a diagnostic line but
        // what the user of a headless daemon needs to set an STB up, and the line that the
        // system service's journal and `systemctl status` show after its start.
        const int nPort = plat::SockLocalPort(SessMan.m_hServSock);
        const std::string strLines =
            StbAddressLines(ListenAddresses(SessMan.m_strListen), nPort > 0 ? nPort : SessMan.m_usPort);
        fputs(strLines.c_str(), stdout);
        fflush(stdout);
    }
#ifdef CORVANE_STATUS_PAGE
    CStatusPage statusPage;
    StartStatusPage(statusPage, statusListen);
#endif
    // The listener is up: a service manager waiting for the start may go on.
    plat::ServiceNotifyReady();
    int nStatus = 0;
    if (pUi != nullptr) {
        // A dialog that cannot be made ends the program with an error: serving on with no
        // window and no tray icon would leave the user nothing to see it or end it by.
        if (pUi->RunDialog() != 0)
            nStatus = 1;
    } else {
        CLauncherState launcher;  // the server --stream started, stopped at exit
        if (cmd.bStream)
            StartStreamingServer(boxes, launcher);
        plat::WaitForTerminationSignal();
        if (cmd.bStream)
            StopStreamingServer(launcher);
    }
    plat::ServiceNotifyStopping();
#ifdef CORVANE_STATUS_PAGE
    statusPage.Stop();  // its snapshots read the manager
#endif
    SessMan.Destroy();
    return nStatus;
}

int CCorvaneApp::PrintRunningStatus(const CCmdLine& cmd)
{
    if (cmd.bHasConfig)
        plat::SetProfilePath(ConfigFileOption(cmd.strConfig));
    CStatusListen listen;
    std::string strError;
    if (StatusListenOption(cmd, listen, strError) != 0) {
        fprintf(stderr, "corvane: %s\n", strError.c_str());
        return 2;
    }
#ifdef CORVANE_STATUS_PAGE
    std::string strText;
    const int nStatus = ReadRunningStatus(listen, strText);
    if (nStatus == 0)
        fputs(strText.c_str(), stdout);
    else
        fprintf(stderr, "corvane: %s", strText.c_str());
    return nStatus;
#else
    return 2;  // the command line refuses --status where no page is served
#endif
}
