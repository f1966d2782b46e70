#include "app/win32/corvanewnd.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <utility>

#include "app/win32/aboutbox.h"
#include "app/win32/wintext.h"
#include "res/resource.h"

namespace {

const wchar_t* const kpszPickerTitle = L"Select folder to share with STB";

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

// The timer that reads the status, once a second.
constexpr UINT_PTR kStatusTimer = 0x5354;
constexpr UINT kStatusEveryMs = 1000;

// Opens the picker on the folder shown (the callback data); the empty path selects nothing.
int CALLBACK BrowseCallbackProc(HWND hWnd, UINT uMsg, LPARAM /*lParam*/, LPARAM lpData)
{
    if (uMsg == BFFM_INITIALIZED)
        SendMessageW(hWnd, BFFM_SETSELECTIONW, TRUE, lpData);
    return 0;
}

HICON LoadAppIcon(int nSize)
{
    return static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, nSize, nSize, 0));
}

}  // namespace

CCorvaneWnd::CCorvaneWnd(IServerControl& server, StatusSource status) : m_Status(std::move(status))
{
    m_pLogic = std::make_unique<CCorvaneDlg>(*this, server);
}

CCorvaneWnd::~CCorvaneWnd()
{
    if (m_hWnd != nullptr)
        DestroyWindow(m_hWnd);
    if (m_hIcon != nullptr)
        DestroyIcon(m_hIcon);
    if (m_hSmallIcon != nullptr)
        DestroyIcon(m_hSmallIcon);
}

bool CCorvaneWnd::Create()
{
    m_hIcon = LoadAppIcon(GetSystemMetrics(SM_CXICON));
    m_hSmallIcon = LoadAppIcon(GetSystemMetrics(SM_CXSMICON));
    m_uTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    HWND hWnd = CreateDialogParamW(Instance(), MAKEINTRESOURCEW(IDD_CORVANE_DIALOG), nullptr, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    return hWnd != nullptr;
}

INT_PTR CALLBACK CCorvaneWnd::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_INITDIALOG) {
        auto* pThis = reinterpret_cast<CCorvaneWnd*>(lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, lParam);
        pThis->m_hWnd = hWnd;
        pThis->OnInitDialog();
        return TRUE;
    }
    auto* pThis = reinterpret_cast<CCorvaneWnd*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (pThis == nullptr)
        return FALSE;
    return pThis->OnMessage(uMsg, wParam, lParam);
}

void CCorvaneWnd::OnInitDialog()
{
    HWND hCombo = GetDlgItem(m_hWnd, IDC_CHARSET);
    m_arrCharsets.assign(1, std::string());
    SendMessageW(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Unchanged"));
    for (const std::string& strName : CharsetChoices()) {
        m_arrCharsets.push_back(strName);
        SendMessageW(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideText(strName).c_str()));
    }

    HMENU hSysMenu = GetSystemMenu(m_hWnd, FALSE);
    wchar_t szAbout[64] = L"";
    if (hSysMenu != nullptr && LoadStringW(Instance(), IDS_ABOUTBOX, szAbout, 64) > 0) {
        AppendMenuW(hSysMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(hSysMenu, MF_STRING, IDM_ABOUTBOX, szAbout);
    }
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
    m_StbList.Attach(GetDlgItem(m_hWnd, IDC_STB_LIST));
    AddTrayIcon();
    m_pLogic->OnInitDialog();
    if (m_Status) {
        // Hidden in the tray too: the tooltip tells the status there.
        RefreshStatus();
        SetTimer(m_hWnd, kStatusTimer, kStatusEveryMs, nullptr);
    }
}

void CCorvaneWnd::RefreshStatus()
{
    if (m_Status)
        m_pLogic->OnStatus(m_Status());
}

INT_PTR CCorvaneWnd::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            m_pLogic->OnAppAbout();
            return TRUE;
        }
        return FALSE;  // move, minimise, close ...: the system's handling
    case WM_CLOSE:     // the close box: hidden like Cancel
        m_pLogic->OnCancel();
        return TRUE;
    case WM_TRAYNOTIFY: {
        const UINT uMouse = LOWORD(lParam);
        m_pLogic->OnTrayNotify(uMouse == WM_RBUTTONUP   ? TrayEvent::RightButtonUp
                               : uMouse == WM_LBUTTONUP ? TrayEvent::LeftButtonUp
                                                        : TrayEvent::Other);
        if (m_hWnd != nullptr)
            SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    case WM_PAINT:
        if (!IsIconic(m_hWnd))
            return FALSE;
        OnPaintIconic();
        return TRUE;
    case WM_ENDSESSION:
        // The Windows session ends (log-off or shutdown): Exit's order, now, since the
        // process may be ended at any moment once this message returns.
        if (wParam != FALSE)
            m_pLogic->OnAppExit();  // the window is gone after this
        if (m_hWnd != nullptr)
            SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_TIMER:
        if (wParam != kStatusTimer)
            return FALSE;
        RefreshStatus();
        return TRUE;
    case WM_NOTIFY: {
        const auto* pHeader = reinterpret_cast<const NMHDR*>(lParam);
        if (pHeader->idFrom != IDC_STB_LIST || pHeader->code != NM_CUSTOMDRAW)
            return FALSE;
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT,
                          m_StbList.OnCustomDraw(*reinterpret_cast<const NMLVCUSTOMDRAW*>(lParam)));
        return TRUE;
    }
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_DESTROY:
        KillTimer(m_hWnd, kStatusTimer);
        RemoveTrayIcon();
        return FALSE;
    case WM_NCDESTROY:
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
        m_hWnd = nullptr;
        return FALSE;
    default:
        if (uMsg != 0 && uMsg == m_uTaskbarCreated) {
            m_bTrayIcon = false;  // the old notification area went with its process
            AddTrayIcon();
            return TRUE;
        }
        return FALSE;
    }
}

void CCorvaneWnd::OnCommand(WORD wId, WORD wCode)
{
    switch (wId) {
    case IDOK:  // OK and Enter
        m_pLogic->OnOK();
        break;
    case IDCANCEL:  // Cancel and Escape
        m_pLogic->OnCancel();
        break;
    case IDC_BROWSE:
        if (wCode == BN_CLICKED)
            m_pLogic->OnBrowse();
        break;
    case IDC_CHARSET:
        if (wCode == CBN_SELCHANGE) {
            const LRESULT nIndex = SendDlgItemMessageW(m_hWnd, IDC_CHARSET, CB_GETCURSEL, 0, 0);
            if (nIndex >= 0 && static_cast<size_t>(nIndex) < m_arrCharsets.size())
                m_pLogic->OnCharsetChosen(m_arrCharsets[static_cast<size_t>(nIndex)]);
        }
        break;
    case ID_TRAY_OPEN:
        m_pLogic->OnTrayOpen();
        break;
    case ID_APP_ABOUT:
        m_pLogic->OnAppAbout();
        break;
    case ID_APP_EXIT:
        m_pLogic->OnAppExit();
        break;
    default:
        break;
    }
}

void CCorvaneWnd::OnPaintIconic()
{
    PAINTSTRUCT ps;
    HDC hDc = BeginPaint(m_hWnd, &ps);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hDc), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    DrawIcon(hDc, (rc.right - rc.left - cxIcon + 1) / 2, (rc.bottom - rc.top - cyIcon + 1) / 2, m_hIcon);
    EndPaint(m_hWnd, &ps);
}

void CCorvaneWnd::AddTrayIcon()
{
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof(nid);
    nid.hWnd = m_hWnd;
    nid.uID = IDR_MAINFRAME;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = WM_TRAYNOTIFY;
    nid.hIcon = m_hSmallIcon;
    lstrcpynW(nid.szTip, m_wstrTip.c_str(), static_cast<int>(sizeof(nid.szTip) / sizeof(nid.szTip[0])));
    m_bTrayIcon = Shell_NotifyIconW(NIM_ADD, &nid) != FALSE;
}

void CCorvaneWnd::RemoveTrayIcon()
{
    if (!m_bTrayIcon)
        return;
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof(nid);
    nid.hWnd = m_hWnd;
    nid.uID = IDR_MAINFRAME;
    Shell_NotifyIconW(NIM_DELETE, &nid);
    m_bTrayIcon = false;
}

void CCorvaneWnd::SetFolderText(const std::string& strFolder)
{
    SetDlgItemTextW(m_hWnd, IDC_FOLDER, WideText(strFolder).c_str());
}

void CCorvaneWnd::SetShareNote(const std::string& strNote)
{
    SetDlgItemTextW(m_hWnd, IDC_SHARE_NOTE, WideText(strNote).c_str());
}

void CCorvaneWnd::SetCharsetChoice(const std::string& strCharset)
{
    size_t nIndex = 0;
    while (nIndex < m_arrCharsets.size() && m_arrCharsets[nIndex] != strCharset)
        ++nIndex;
    if (nIndex == m_arrCharsets.size()) {
        // A code page stored by hand stays selectable, so that OK keeps it.
        m_arrCharsets.push_back(strCharset);
        SendDlgItemMessageW(m_hWnd, IDC_CHARSET, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(WideText(strCharset).c_str()));
    }
    SendDlgItemMessageW(m_hWnd, IDC_CHARSET, CB_SETCURSEL, nIndex, 0);
}

void CCorvaneWnd::SetReachLines(const std::vector<std::string>& lines)
{
    std::string strText;
    for (const std::string& strLine : lines)
        strText += (strText.empty() ? "" : "\r\n") + strLine;
    SetDlgItemTextW(m_hWnd, IDC_REACH, WideText(strText).c_str());
}

void CCorvaneWnd::SetStbCount(size_t nRows) { m_StbList.SetCount(nRows); }

void CCorvaneWnd::SetStbRow(size_t nRow, const CStbRow& row) { m_StbList.SetRow(nRow, row); }

void CCorvaneWnd::SetTrayTip(const std::string& strTip)
{
    m_wstrTip = WideText(strTip);
    if (!m_bTrayIcon)
        return;  // an icon added later takes it
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof(nid);
    nid.hWnd = m_hWnd;
    nid.uID = IDR_MAINFRAME;
    nid.uFlags = NIF_TIP;
    lstrcpynW(nid.szTip, m_wstrTip.c_str(), static_cast<int>(sizeof(nid.szTip) / sizeof(nid.szTip[0])));
    Shell_NotifyIconW(NIM_MODIFY, &nid);
}

void CCorvaneWnd::ShowDialog()
{
    ShowWindow(m_hWnd, SW_SHOW);  // a minimised dialog stays minimised
    SetForegroundWindow(m_hWnd);
}

void CCorvaneWnd::HideDialog()
{
    // Without a tray icon a hidden dialog could never come back: minimise it instead.
    ShowWindow(m_hWnd, m_bTrayIcon ? SW_HIDE : SW_MINIMIZE);
}

bool CCorvaneWnd::PickFolder(const std::string& strStart, std::string& strChosen)
{
    // The picker's new style needs COM on this thread.
    const HRESULT hrCom = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring wstrStart = WideText(strStart);
    BROWSEINFOW bi{};
    bi.hwndOwner = m_hWnd;
    bi.lpszTitle = kpszPickerTitle;
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    bi.lpfn = BrowseCallbackProc;
    bi.lParam = reinterpret_cast<LPARAM>(wstrStart.c_str());
    bool bChosen = false;
    if (LPITEMIDLIST pidl = SHBrowseForFolderW(&bi)) {
        wchar_t szPath[MAX_PATH] = L"";
        if (SHGetPathFromIDListW(pidl, szPath) && szPath[0] != L'\0') {
            strChosen = Utf8Text(szPath);
            bChosen = true;
        }
        CoTaskMemFree(pidl);
    }
    if (SUCCEEDED(hrCom))
        CoUninitialize();
    return bChosen;
}

void CCorvaneWnd::RunAboutBox() { RunCorvaneAboutBox(m_hWnd); }

void CCorvaneWnd::ShowTrayMenu()
{
    HMENU hMenu = LoadMenuW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    if (hMenu == nullptr)
        return;
    HMENU hPopup = GetSubMenu(hMenu, 0);
    POINT pt{};
    GetCursorPos(&pt);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(m_hWnd);
    TrackPopupMenu(hPopup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, m_hWnd, nullptr);
    PostMessageW(m_hWnd, WM_NULL, 0, 0);
    DestroyMenu(hMenu);
}

void CCorvaneWnd::EndDialog()
{
    m_bEnded = true;
    if (m_hWnd != nullptr)
        DestroyWindow(m_hWnd);  // WM_DESTROY takes the tray icon away
}
