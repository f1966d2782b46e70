#include "app/win32/aboutbox.h"

#include "app/win32/wintext.h"
#include "corvane_version.h"
#include "res/resource.h"

namespace {

INT_PTR CALLBACK AboutProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM /*lParam*/)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        // The version of this build, whatever the template was written for.
        SetDlgItemTextW(hWnd, IDC_VERSION, WideText("Corvane, Version " CORVANE_VERSION).c_str());
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(hWnd, LOWORD(wParam));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

}  // namespace

void RunCorvaneAboutBox(HWND hOwner)
{
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), hOwner, AboutProc, 0);
}
