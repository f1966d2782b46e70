#include "app/corvaneapp.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/launcher.h"
#include "app/msgbox.h"
#include "app/settings.h"
#include "net/sessman.h"
#include "platform/instance.h"
#include "platform/profile.h"
#include "platform/log.h"
#include "platform/signals.h"

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
    if (StoreSharedFolder(NormaliseFolder(abs.lexically_normal().string())) != 0) {
        fprintf(stderr, "corvane: cannot store the shared folder in %s\n", plat::GetProfilePath().c_str());
        return -1;
    }
    return 0;
}

}  // namespace

int CCorvaneApp::InitInstance(const CCmdLine& cmd, IShellUi* pUi)
{
    if (plat::AcquireInstanceGuard("CORVANE") == 0) {
        plat::Trace("Corvane already exists...\n");
        fprintf(stderr, "corvane: another copy is already running\n");
        return 1;
    }
    CStderrBoxes stderrBoxes;
    IMessageBoxes& boxes = pUi != nullptr ? pUi->Boxes() : stderrBoxes;
    // The settings are in place before the first session can map a path.
    if (cmd.bHasShare && StoreShareOption(cmd.strShare) != 0)
        return 2;
    if (GetSharedFolder().empty())
        fprintf(stderr, "corvane: no shared folder is set; requests are refused until one is chosen\n");

    SessMan.m_usPort = cmd.usPort;
    const int r = SessMan.Create();
    if (r != 0) {
        plat::Trace("SessMan.Create()=%d\n", r);
        boxes.Show("WINSOCK ERROR", IMessageBoxes::Icon::Error);
        SessMan.Destroy();
        return 1;
    }
    if (pUi != nullptr) {
        pUi->RunDialog();
    } else {
        if (cmd.bStream)
            StartStreamingServer(boxes);
        plat::WaitForTerminationSignal();
        if (cmd.bStream)
            StopStreamingServer();
    }
    SessMan.Destroy();
    return 0;
}
