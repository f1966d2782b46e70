#include "app/win32/winshell.h"

#include <commctrl.h>

#include <cstdio>

#include "app/daemonstatus.h"
#include "app/launcher.h"
#include "app/win32/corvanewnd.h"
#include "app/win32/wintext.h"
#include "platform/profile.h"
#include "platform/signals.h"

namespace {

// The streaming server, with the dialog's message boxes.
class CServerControl : public IServerControl {
public:
    explicit CServerControl(IMessageBoxes& boxes) : m_Boxes(boxes) {}
    void Start() override { StartStreamingServer(m_Boxes, m_Launcher); }
    void Stop() override { StopStreamingServer(m_Launcher); }

private:
    IMessageBoxes& m_Boxes;
    CLauncherState m_Launcher;  // the server this dialog started, stopped on OK and Exit
};

// A program started from Explorer gets a console of its own, which only stands empty
// beside the dialog: it goes. One shared with a command prompt stays, with the lines.
void ReleaseOwnConsole()
{
    DWORD adwProcesses[2];
    if (GetConsoleWindow() != nullptr && GetConsoleProcessList(adwProcesses, 2) == 1)
        FreeConsole();
}

}  // namespace

void CWinBoxes::Show(const std::string& strText, Icon eIcon)
{
    const UINT uType = MB_OK | (eIcon == Icon::Error ? MB_ICONERROR : MB_ICONWARNING);
    MessageBoxW(m_hOwner, WideText(strText).c_str(), WideText(plat::GetAppName()).c_str(), uType);
}

CWinShell::CWinShell()
{
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&icc);
}

int CWinShell::RunDialog()
{
    CServerControl server(m_Boxes);
    plat::CTerminationNotifier termination;  // Ctrl+C and the console's end act as Exit
    CCorvaneWnd wnd(server, DaemonStatusSource());
    if (!wnd.Create()) {
        fprintf(stderr, "corvane: the dialog cannot be created (error %lu); --headless runs without it\n",
                GetLastError());
        return -1;
    }
    ReleaseOwnConsole();
    m_Boxes.SetOwner(wnd.Handle());
    const plat::TerminationHandle hEnd = termination.Handle();
    RunDialogLoop(wnd, hEnd == plat::kNoTerminationHandle ? nullptr : reinterpret_cast<HANDLE>(hEnd));
    m_Boxes.SetOwner(nullptr);
    return 0;
}

void RunDialogLoop(CCorvaneWnd& wnd, HANDLE hEnd)
{
    const DWORD dwHandles = hEnd != nullptr ? 1 : 0;
    while (!wnd.Ended()) {
        const DWORD dwWait =
            MsgWaitForMultipleObjectsEx(dwHandles, &hEnd, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (dwHandles == 1 && dwWait == WAIT_OBJECT_0) {
            // The wait took the request off the event.
            wnd.Logic().OnAppExit();
            break;
        }
        MSG msg;
        while (!wnd.Ended() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                wnd.Logic().OnAppExit();
                break;
            }
            // Tab, Enter and Escape as a dialog takes them.
            if (wnd.Handle() == nullptr || !IsDialogMessageW(wnd.Handle(), &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
}
