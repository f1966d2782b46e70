// The dialog and tray icon on Windows: message boxes, and the run of the main dialog on
// the main thread until Exit or a request to end the process (Ctrl+C, the console
// closing, logoff).
#pragma once

#include <windows.h>

#include "app/corvaneapp.h"
#include "app/msgbox.h"

class CCorvaneWnd;

// Message boxes captioned with the application name, owned by the dialog while it runs.
class CWinBoxes : public IMessageBoxes {
public:
    void Show(const std::string& strText, Icon eIcon) override;
    void SetOwner(HWND hOwner) { m_hOwner = hOwner; }

private:
    HWND m_hOwner = nullptr;
};

class CWinShell : public IShellUi {
public:
    CWinShell();

    IMessageBoxes& Boxes() override { return m_Boxes; }
    int RunDialog() override;

private:
    CWinBoxes m_Boxes;
};

// Serves the dialog's messages until Exit has ended it. hEnd (or null) is an auto-reset
// event set when the end of the process is asked for: it acts as Exit.
void RunDialogLoop(CCorvaneWnd& wnd, HANDLE hEnd);
