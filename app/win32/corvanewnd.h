// The main dialog's window on Windows: dialog 102 run modeless on the main thread, with
// the tray icon (Shell_NotifyIcon, WM_TRAYNOTIFY) and its "App" menu, the folder picker,
// the About box, the system menu's About item, and the status (where STBs reach this
// computer, the list of STBs, the tray icon's tooltip) read once a second (WM_TIMER). All
// decisions are the logic's (CCorvaneDlg); this class only draws and forwards.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/corvanedlg.h"
#include "app/win32/stblist.h"

class CCorvaneWnd : public IDlgWindow {
public:
    // Reads the stored folder and code page; the window comes with Create(). The status
    // comes from status, read when the window is made and then once a second; without
    // one the status part stays empty.
    explicit CCorvaneWnd(IServerControl& server, StatusSource status = {});
    // Destroys the window (and so the tray icon) when Exit has not.
    ~CCorvaneWnd() override;
    CCorvaneWnd(const CCorvaneWnd&) = delete;
    CCorvaneWnd& operator=(const CCorvaneWnd&) = delete;

    // Creates the dialog, shown, with its tray icon. False when the window cannot be made.
    bool Create();
    // The dialog's window; null before Create() and after Exit.
    HWND Handle() const { return m_hWnd; }
    // True once Exit has ended the dialog: the message loop stops.
    bool Ended() const { return m_bEnded; }
    // True while the tray icon is in the notification area.
    bool HasTrayIcon() const { return m_bTrayIcon; }
    // The tray icon's tooltip as last set.
    const std::wstring& TrayTip() const { return m_wstrTip; }
    CCorvaneDlg& Logic() { return *m_pLogic; }

    // IDlgWindow
    void SetFolderText(const std::string& strFolder) override;
    void SetShareNote(const std::string& strNote) override;
    void SetCharsetChoice(const std::string& strCharset) override;
    void ShowDialog() override;
    void HideDialog() override;
    bool PickFolder(const std::string& strStart, std::string& strChosen) override;
    void RunAboutBox() override;
    void ShowTrayMenu() override;
    void EndDialog() override;
    void SetReachLines(const std::vector<std::string>& lines) override;
    void SetStbCount(size_t nRows) override;
    void SetStbRow(size_t nRow, const CStbRow& row) override;
    void SetTrayTip(const std::string& strTip) override;

    // Reads the status source and hands the snapshot to the logic (the timer's work).
    void RefreshStatus();

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(WORD wId, WORD wCode);
    void OnPaintIconic();
    void AddTrayIcon();
    void RemoveTrayIcon();

    std::unique_ptr<CCorvaneDlg> m_pLogic;
    HWND m_hWnd = nullptr;
    HICON m_hIcon = nullptr;       // the big icon: the window's, Alt+Tab's, the minimised one
    HICON m_hSmallIcon = nullptr;  // the caption's and the tray's
    bool m_bTrayIcon = false;
    bool m_bEnded = false;
    UINT m_uTaskbarCreated = 0;  // sent when the notification area comes (back)
    std::vector<std::string> m_arrCharsets;  // the code page of each drop-down item
    StatusSource m_Status;
    CStbList m_StbList;
    std::wstring m_wstrTip = L"Corvane";
};
