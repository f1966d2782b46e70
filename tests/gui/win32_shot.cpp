// Shows the Windows dialog, fed the status of two STBs (one of them fetching a recording),
// for the README's picture of it (docs/win32-dialog.png). scripts/screenshots runs it under
// Wine on a virtual X server and takes the picture when it says "shown":
//     corvane_win32_shot SETTINGS.ini
// The settings file named is written with the folder shown. It ends after a minute, or
// with the window.
#include <windows.h>

#include <cstdio>

#include "app/settings.h"
#include "app/win32/corvanewnd.h"
#include "platform/profile.h"
#include "tests/status_fixture.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: corvane_win32_shot SETTINGS.ini\n");
        return 2;
    }
    plat::SetProfilePath(argv[1]);
    if (StoreShareSetting({"C:\\users\\Public\\Videos", ""}) != 0) {
        fprintf(stderr, "corvane_win32_shot: cannot write %s\n", argv[1]);
        return 1;
    }
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&icc);
    CNoServer server;
    CCorvaneWnd wnd(server, [] { return TwoStbsSnapshot(); });
    if (!wnd.Create())
        return 1;
    RedrawWindow(wnd.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    printf("shown\n");
    fflush(stdout);
    const DWORD dwEnd = GetTickCount() + 60000;
    MSG msg;
    while (!wnd.Ended() && static_cast<LONG>(dwEnd - GetTickCount()) > 0) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 200, QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return 0;
}
