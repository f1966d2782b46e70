// corvane: shares one folder with the set-top boxes of the home network.
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/cmdline.h"
#include "app/settings.h"
#include "net/sessman.h"
#include "platform/instance.h"
#include "platform/log.h"
#include "platform/signals.h"

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
    std::string strFolder = NormaliseFolder(abs.lexically_normal().string());
    if (StoreSharedFolder(strFolder) != 0) {
        fprintf(stderr, "corvane: cannot store the shared folder in the settings file\n");
        return -1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    CCmdLine cmd;
    std::string strError;
    if (ParseCmdLine(argc, argv, cmd, strError) != 0) {
        fprintf(stderr, "corvane: %s\n%s", strError.c_str(), UsageText());
        return 2;
    }
    if (cmd.bHelp) {
        fputs(UsageText(), stdout);
        return 0;
    }
    if (cmd.bVersion) {
        puts("corvane 3.04");
        return 0;
    }
    // Before any thread exists: SIGINT and SIGTERM are then taken by this thread alone.
    plat::SetupProcessSignals();
    setvbuf(stdout, nullptr, _IOLBF, 0);
    plat::SetTraceQuiet(cmd.bQuiet);

    if (plat::AcquireInstanceGuard("CORVANE") == 0) {
        plat::Trace("Corvane already exists...\n");
        fprintf(stderr, "corvane: another copy is already running\n");
        return 1;
    }
    // The shared folder is in place before the first session can map a path.
    if (cmd.bHasShare && StoreShareOption(cmd.strShare) != 0)
        return 2;
    if (!cmd.bHeadless)
        fprintf(stderr, "corvane: no dialog in this build; running headless\n");
    if (GetSharedFolder().empty())
        fprintf(stderr, "corvane: no shared folder is set; every request is refused until one is (--share DIR)\n");

    SessMan.m_usPort = cmd.usPort;
    int r = SessMan.Create();
    if (r != 0) {
        plat::Trace("SessMan.Create()=%d\n", r);
        fprintf(stderr, "WINSOCK ERROR\n");
        SessMan.Destroy();
        return 1;
    }
    plat::WaitForTerminationSignal();
    SessMan.Destroy();
    return 0;
}
