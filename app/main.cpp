// corvane: shares one folder with the set-top boxes of the home network.
#include <cstdio>
#include <string>

#include "app/cmdline.h"
#include "app/corvaneapp.h"
#include "corvane_version.h"
#ifdef CORVANE_WITH_DIALOG
#ifdef _WIN32
#include "app/win32/winshell.h"
#else
#include "app/qt/qtshell.h"
#endif
#endif
#include "platform/display.h"
#include "platform/limits.h"
#include "platform/log.h"
#include "platform/memory.h"
#include "platform/signals.h"

namespace {

bool DisplayAvailable()
{
#ifndef CORVANE_WITH_DIALOG
    return false;  // built without the dialog
#else
    return plat::HasDisplay();
#endif
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
        puts("corvane " CORVANE_VERSION);
        return 0;
    }
    // The running daemon's status: nothing is started, no copy of the daemon is taken.
    if (cmd.bStatus)
        return theApp.PrintRunningStatus(cmd);
    // Before any thread exists: SIGINT and SIGTERM are then taken by this thread alone.
    plat::SetupProcessSignals();
    plat::RaiseDescriptorLimit();  // every session holds a socket and maybe files
    plat::TuneAllocator();
    setvbuf(stdout, nullptr, _IOLBF, 0);
    plat::SetTraceQuiet(cmd.bQuiet);

    const bool bDialog = !cmd.bHeadless && DisplayAvailable();
    if (!cmd.bHeadless && !bDialog)
        fprintf(stderr, "corvane: no display found; running headless\n");
    if (bDialog && cmd.bStream)
        fprintf(stderr, "corvane: --stream applies to the headless daemon; OK in the dialog starts the server\n");
#ifdef CORVANE_WITH_DIALOG
    if (bDialog) {
#ifdef _WIN32
        CWinShell shell;
#else
        CQtShell shell(argc, argv);
#endif
        return theApp.InitInstance(cmd, &shell);
    }
#endif
    return theApp.InitInstance(cmd, nullptr);
}
