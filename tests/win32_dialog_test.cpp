// The Win32 dialog, run for real (under Wine with a display in scripts/test-windows): the
// controls, ids, texts and dialog-unit places of the running window, the tray menu as menu
// 128 holds it, the About box from both ways in, the ways of hiding, OK and Cancel with the
// settings store, the code-page drop-down, Exit and the end request, and the status shown.
#ifdef _WIN32

// The shared fixtures first: their socket names come before the system headers' macros.
#include "tests/test_util.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/win32/corvanewnd.h"
#include "app/win32/winshell.h"
#include "app/win32/wintext.h"
#include "res/resource.h"
#include "tests/status_fixture.h"

namespace {

class CCountingServer : public IServerControl {
public:
    void Start() override { ++nStarts; }
    void Stop() override { ++nStops; }
    int nStarts = 0, nStops = 0;
};

std::string WindowText(HWND hWnd)
{
    wchar_t sz[512] = L"";
    GetWindowTextW(hWnd, sz, 512);
    return Utf8Text(sz);
}

std::string ClassOf(HWND hWnd)
{
    wchar_t sz[64] = L"";
    GetClassNameW(hWnd, sz, 64);
    return Utf8Text(sz);
}

// Serves what is queued for this thread (posted commands, Escape's IDCANCEL).
void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// The dialog with a temporary shared folder stored.
class Win32Dialog : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Wnd.Create()) << GetLastError();
        m_hDlg = m_Wnd.Handle();
    }
    HWND Item(int nId) { return GetDlgItem(m_hDlg, nId); }
    void Command(WORD wId, WORD wCode = 0)
    {
        SendMessageW(m_hDlg, WM_COMMAND, MAKEWPARAM(wId, wCode), reinterpret_cast<LPARAM>(GetDlgItem(m_hDlg, wId)));
        Pump();
    }
    bool Hidden() { return !IsWindowVisible(m_hDlg) || IsIconic(m_hDlg); }
    // Stands for a folder chosen with Browse: shown, not stored.
    void Choose(const std::string& strFolder)
    {
        m_Wnd.Logic().m_strFolder = strFolder;
        m_Wnd.SetFolderText(strFolder);
    }
    void ChooseCharset(const char* pszName)
    {
        const LRESULT nIndex =
            SendMessageW(Item(IDC_CHARSET), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>(WideText(pszName).c_str()));
        ASSERT_GE(nIndex, 0) << pszName;
        SendMessageW(Item(IDC_CHARSET), CB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
        Command(IDC_CHARSET, CBN_SELCHANGE);
    }
    std::vector<std::string> CharsetItems()
    {
        std::vector<std::string> arr;
        const LRESULT n = SendMessageW(Item(IDC_CHARSET), CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < n; ++i) {
            wchar_t sz[64] = L"";
            SendMessageW(Item(IDC_CHARSET), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(sz));
            arr.push_back(Utf8Text(sz));
        }
        return arr;
    }
    std::string CharsetShown() { return WindowText(Item(IDC_CHARSET)); }

    CTempShare m_Share;
    CCountingServer m_Server;
    CCorvaneWnd m_Wnd{m_Server};
    HWND m_hDlg = nullptr;
};

}  // namespace

// Every control of dialog 102 by its id: class, text and place in dialog units.
TEST_F(Win32Dialog, ControlsOfTheRunningWindow)
{
    EXPECT_EQ(WindowText(m_hDlg), "Corvane");
    EXPECT_TRUE(IsWindowVisible(m_hDlg));
    EXPECT_NE(GetWindowLongPtrW(m_hDlg, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    EXPECT_NE(GetWindowLongPtrW(m_hDlg, GWL_STYLE) & WS_MINIMIZEBOX, 0);
    struct CControl {
        int nId;
        const char* pszClass;
        std::string strText;
        RECT rcUnits;  // x, y, width, height
    };
    const CControl aControls[] = {
        {IDC_SHARING_GROUP, "Button", "Sharing folder", {7, 7, 306, 35}},
        {IDC_FOLDER, "Static", m_Share.Share(), {16, 21, 238, 13}},
        {IDC_BROWSE, "Button", "Browse...", {254, 20, 50, 14}},
        {IDC_CHARSET_LABEL, "Static", "Names on the STB", {7, 51, 70, 8}},
        {IDOK, "Button", "OK", {213, 67, 50, 14}},
        {IDCANCEL, "Button", "Cancel", {263, 67, 50, 14}},
        {IDC_STATUS_GROUP, "Button", "STBs", {7, 90, 306, 107}},
        {IDC_REACH, "Static", "", {13, 102, 294, 26}},  // no status source: nothing to say
        {IDC_STB_LIST, "SysListView32", "", {13, 130, 294, 60}},
    };
    for (const CControl& c : aControls) {
        HWND hItem = Item(c.nId);
        ASSERT_NE(hItem, nullptr) << c.nId;
        EXPECT_EQ(ClassOf(hItem), c.pszClass) << c.nId;
        EXPECT_EQ(WindowText(hItem), c.strText) << c.nId;
        RECT rcWant = c.rcUnits;  // each field scaled on its own, as the template's are
        MapDialogRect(m_hDlg, &rcWant);
        RECT rcHave;
        GetWindowRect(hItem, &rcHave);
        MapWindowPoints(nullptr, m_hDlg, reinterpret_cast<POINT*>(&rcHave), 2);
        EXPECT_EQ(rcHave.left, rcWant.left) << c.nId;
        EXPECT_EQ(rcHave.top, rcWant.top) << c.nId;
        EXPECT_EQ(rcHave.right - rcHave.left, rcWant.right) << c.nId;
        EXPECT_EQ(rcHave.bottom - rcHave.top, rcWant.bottom) << c.nId;
    }
    EXPECT_EQ(ClassOf(Item(IDC_CHARSET)), "ComboBox");
    EXPECT_EQ(GetWindowLongPtrW(Item(IDOK), GWL_STYLE) & 0x0F, BS_DEFPUSHBUTTON);
    EXPECT_NE(GetWindowLongPtrW(Item(IDC_FOLDER), GWL_STYLE) & SS_SUNKEN, 0);

    // The system menu's About item, from string 101.
    wchar_t szItem[64] = L"";
    GetMenuStringW(GetSystemMenu(m_hDlg, FALSE), IDM_ABOUTBOX, szItem, 64, MF_BYCOMMAND);
    EXPECT_EQ(Utf8Text(szItem), "&About...");
    EXPECT_TRUE(m_Wnd.HasTrayIcon());
}

// Menu 128: one pop-up "App" with Open, a separator, About and Exit.
TEST_F(Win32Dialog, TrayMenuFromTheResources)
{
    HMENU hMenu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    ASSERT_NE(hMenu, nullptr);
    ASSERT_EQ(GetMenuItemCount(hMenu), 1);
    wchar_t sz[64] = L"";
    GetMenuStringW(hMenu, 0, sz, 64, MF_BYPOSITION);
    EXPECT_EQ(Utf8Text(sz), "App");
    HMENU hPopup = GetSubMenu(hMenu, 0);
    struct CItem {
        UINT uId;
        const char* pszText;  // null: a separator
    };
    const CItem aItems[] = {{ID_TRAY_OPEN, "&Open..."}, {0, nullptr}, {57664, "&About..."}, {57665, "E&xit"}};
    ASSERT_EQ(GetMenuItemCount(hPopup), 4);
    for (int i = 0; i < 4; ++i) {
        MENUITEMINFOW mii{};
        mii.cbSize = sizeof(mii);
        mii.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        wchar_t szText[64] = L"";
        mii.dwTypeData = szText;
        mii.cch = 64;
        ASSERT_TRUE(GetMenuItemInfoW(hPopup, static_cast<UINT>(i), TRUE, &mii)) << i;
        if (aItems[i].pszText == nullptr) {
            EXPECT_NE(mii.fType & MFT_SEPARATOR, 0u) << i;
            continue;
        }
        EXPECT_EQ(mii.wID, aItems[i].uId) << i;
        EXPECT_EQ(Utf8Text(szText), aItems[i].pszText) << i;
    }
    DestroyMenu(hMenu);
}

namespace {

// What a timer saw of the About box while it ran: its texts, and how many were open at
// once after About was asked for a second time.
struct CAboutWatch {
    int nTicks = 0;
    int nMostOpen = 0;
    bool bAskedAgain = false;
    std::string strTitle, strText, strOk, strIconClass;
    bool bIcon = false;
};

const wchar_t* const kpszWatch = L"CorvaneTestAboutWatch";

BOOL CALLBACK CollectAboutBoxes(HWND hWnd, LPARAM lParam)
{
    if (IsWindowVisible(hWnd) && WindowText(hWnd) == "About Corvane")
        reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hWnd);
    return TRUE;
}

void CALLBACK WatchAboutBox(HWND hDlg, UINT, UINT_PTR uTimer, DWORD)
{
    auto* pWatch = static_cast<CAboutWatch*>(GetPropW(hDlg, kpszWatch));
    std::vector<HWND> arrBoxes;
    EnumThreadWindows(GetCurrentThreadId(), CollectAboutBoxes, reinterpret_cast<LPARAM>(&arrBoxes));
    if (++pWatch->nTicks > 400) {  // the box never came: let the test fail, not hang
        for (HWND h : arrBoxes)
            PostMessageW(h, WM_COMMAND, IDOK, 0);
        KillTimer(hDlg, uTimer);
        return;
    }
    if (arrBoxes.empty())
        return;
    pWatch->nMostOpen = std::max(pWatch->nMostOpen, static_cast<int>(arrBoxes.size()));
    if (!pWatch->bAskedAgain) {
        HWND hBox = arrBoxes.front();
        pWatch->strTitle = WindowText(hBox);
        pWatch->strText = WindowText(GetDlgItem(hBox, IDC_VERSION));
        pWatch->strOk = WindowText(GetDlgItem(hBox, IDOK));
        HWND hIcon = GetDlgItem(hBox, IDC_ABOUT_ICON);
        pWatch->strIconClass = ClassOf(hIcon);
        pWatch->bIcon = (GetWindowLongPtrW(hIcon, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                        SendMessageW(hIcon, STM_GETICON, 0, 0) != 0;
        pWatch->bAskedAgain = true;
        PostMessageW(hDlg, WM_COMMAND, ID_APP_ABOUT, 0);  // one box at a time
        return;
    }
    for (HWND h : arrBoxes)
        PostMessageW(h, WM_COMMAND, IDOK, 0);
}

}  // namespace

// From the tray menu and from the system menu: the same box, one at a time.
TEST_F(Win32Dialog, AboutBoxFromTheTrayAndTheSystemMenu)
{
    struct CWayIn {
        const char* pszName;
        UINT uMsg;
        WPARAM wParam;
    };
    for (const CWayIn& way : {CWayIn{"tray menu", WM_COMMAND, ID_APP_ABOUT},
                              CWayIn{"system menu", WM_SYSCOMMAND, IDM_ABOUTBOX}}) {
        CAboutWatch watch;
        SetPropW(m_hDlg, kpszWatch, &watch);
        const UINT_PTR uTimer = SetTimer(m_hDlg, 1, 20, WatchAboutBox);
        SendMessageW(m_hDlg, way.uMsg, way.wParam, 0);  // returns when the box is closed
        KillTimer(m_hDlg, uTimer);
        Pump();
        RemovePropW(m_hDlg, kpszWatch);
        EXPECT_EQ(watch.strTitle, "About Corvane") << way.pszName;
        EXPECT_EQ(watch.strText, "Corvane, Version 3.04") << way.pszName;
        EXPECT_EQ(watch.strOk, "OK") << way.pszName;
        EXPECT_EQ(watch.strIconClass, "Static") << way.pszName;
        EXPECT_TRUE(watch.bIcon) << way.pszName;
        EXPECT_EQ(watch.nMostOpen, 1) << way.pszName;
        EXPECT_FALSE(m_Wnd.Logic().m_bAboutOpen) << way.pszName;
    }
}

namespace {

// What a timer saw of the folder picker: its title and prompt, the folder selected when it
// opened; then it confirms or cancels the picker.
struct CPickerWatch {
    bool bConfirm = false;
    std::string strWanted;  // the folder the picker should come to rest on
    int nTicks = 0;
    int nSteady = 0;  // ticks the selection has stayed on strWanted
    bool bSeen = false;
    std::string strTitle, strSelected, strPrompt;
};

const wchar_t* const kpszPickerWatch = L"CorvaneTestPickerWatch";

BOOL CALLBACK FindPicker(HWND hWnd, LPARAM lParam)
{
    if (IsWindowVisible(hWnd) && FindWindowExW(hWnd, nullptr, L"SysTreeView32", nullptr) != nullptr) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindPrompt(HWND hWnd, LPARAM lParam)
{
    if (ClassOf(hWnd) == "Static" && WindowText(hWnd) == "Select folder to share with STB")
        *reinterpret_cast<std::string*>(lParam) = WindowText(hWnd);
    return TRUE;
}

void CALLBACK WatchPicker(HWND hDlg, UINT, UINT_PTR uTimer, DWORD)
{
    auto* pWatch = static_cast<CPickerWatch*>(GetPropW(hDlg, kpszPickerWatch));
    HWND hPicker = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindPicker, reinterpret_cast<LPARAM>(&hPicker));
    if (hPicker == nullptr) {
        if (++pWatch->nTicks > 600)
            KillTimer(hDlg, uTimer);  // the picker never came: let the test fail, not hang
        return;
    }
    HWND hTree = FindWindowExW(hPicker, nullptr, L"SysTreeView32", nullptr);
    const auto hItem = reinterpret_cast<HTREEITEM>(SendMessageW(hTree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    wchar_t szItem[MAX_PATH] = L"";
    TVITEMW tvi{};
    tvi.mask = TVIF_TEXT;
    tvi.hItem = hItem;
    tvi.pszText = szItem;
    tvi.cchTextMax = MAX_PATH;
    if (hItem != nullptr)
        SendMessageW(hTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tvi));
    // The picker walks the selection down the tree as it fills it, and on a busy machine it
    // may pause on a parent for a while: wait until it rests on the folder wanted, or give
    // up after 30 s and cancel, recording where it stopped.
    const std::string strItem = Utf8Text(szItem);
    pWatch->nSteady = hItem != nullptr && strItem == pWatch->strWanted ? pWatch->nSteady + 1 : 0;
    pWatch->strSelected = strItem;
    const bool bRested = pWatch->nSteady >= 3;
    if (!bRested && ++pWatch->nTicks <= 600)
        return;
    pWatch->bSeen = true;
    pWatch->strTitle = WindowText(hPicker);
    EnumChildWindows(hPicker, FindPrompt, reinterpret_cast<LPARAM>(&pWatch->strPrompt));
    KillTimer(hDlg, uTimer);
    PostMessageW(hPicker, WM_COMMAND, bRested && pWatch->bConfirm ? IDOK : IDCANCEL, 0);
}

}  // namespace

// Browse opens the picker on the folder shown; OK there shows the folder picked (not
// stored), Cancel there changes nothing.
TEST_F(Win32Dialog, BrowseOpensOnTheFolderShown)
{
    const std::string strStart = m_Share.Root() + "\\Picked";
    std::filesystem::create_directory(strStart);
    Choose(strStart);
    for (bool bConfirm : {false, true}) {
        CPickerWatch watch;
        // Wine's picker, the first time a process opens it, now and then stops its walk
        // down the tree half-way for good: a second opening is given the same chance.
        for (int nOpening = 0; nOpening < 2 && watch.strSelected != "Picked"; ++nOpening) {
            watch = CPickerWatch{};
            watch.bConfirm = bConfirm;
            watch.strWanted = "Picked";
            SetPropW(m_hDlg, kpszPickerWatch, &watch);
            SetTimer(m_hDlg, 2, 50, WatchPicker);
            Command(IDC_BROWSE, BN_CLICKED);  // returns when the picker is closed
            KillTimer(m_hDlg, 2);
            RemovePropW(m_hDlg, kpszPickerWatch);
        }
        ASSERT_TRUE(watch.bSeen) << bConfirm;
        EXPECT_EQ(watch.strPrompt, "Select folder to share with STB") << bConfirm;
        EXPECT_EQ(watch.strSelected, watch.strWanted) << bConfirm;
        // Either way the folder shown stays the one the picker opened on.
        const std::filesystem::path shown(WideText(WindowText(Item(IDC_FOLDER))));
        EXPECT_EQ(shown.filename(), L"Picked") << bConfirm;
        EXPECT_EQ(shown.parent_path().filename(), std::filesystem::path(WideText(m_Share.Root())).filename())
            << bConfirm;
        EXPECT_EQ(GetSharedFolder(), m_Share.Share()) << bConfirm;
    }
}

// OK, Cancel, the close box and Escape hide the dialog; the program goes on, and the
// tray's left click or Open shows it again.
TEST_F(Win32Dialog, EveryWayOutHidesTheDialog)
{
    struct CWayOut {
        const char* pszName;
        void (*pfnDo)(HWND hDlg);
    };
    const CWayOut aWays[] = {
        {"OK", [](HWND h) { SendMessageW(h, WM_COMMAND, IDOK, 0); }},
        {"Cancel", [](HWND h) { SendMessageW(h, WM_COMMAND, IDCANCEL, 0); }},
        {"close box", [](HWND h) { SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"Escape",
         [](HWND h) {
             SetFocus(GetDlgItem(h, IDC_BROWSE));
             MSG msg{GetDlgItem(h, IDC_BROWSE), WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {0, 0}};
             IsDialogMessageW(h, &msg);
         }},
    };
    int nShowings = 0;
    for (const CWayOut& way : aWays) {
        if (nShowings++ % 2 == 0)
            SendMessageW(m_hDlg, WM_TRAYNOTIFY, IDR_MAINFRAME, WM_LBUTTONUP);
        else
            Command(ID_TRAY_OPEN);
        ASSERT_TRUE(IsWindowVisible(m_hDlg)) << way.pszName;
        way.pfnDo(m_hDlg);
        Pump();
        EXPECT_TRUE(Hidden()) << way.pszName;
        EXPECT_TRUE(IsWindow(m_hDlg)) << way.pszName;
        EXPECT_FALSE(m_Wnd.Ended()) << way.pszName;
    }
    EXPECT_EQ(m_Server.nStarts, 1);  // OK alone restarts the streaming server
    // Mouse moves and presses over the tray icon do nothing.
    SendMessageW(m_hDlg, WM_TRAYNOTIFY, IDR_MAINFRAME, WM_MOUSEMOVE);
    SendMessageW(m_hDlg, WM_TRAYNOTIFY, IDR_MAINFRAME, WM_LBUTTONDOWN);
    EXPECT_TRUE(Hidden());
}

TEST_F(Win32Dialog, OkStoresTheFolderAndCancelForgetsIt)
{
    const std::string strNew = m_Share.Root() + "\\other";
    std::filesystem::create_directory(strNew);
    Choose(strNew);
    EXPECT_EQ(GetSharedFolder(), m_Share.Share());  // shown only
    Command(IDOK);
    EXPECT_EQ(GetSharedFolder(), strNew);
    EXPECT_EQ(m_Server.nStarts, 1);

    Choose(m_Share.Root() + "\\never");
    Command(IDCANCEL);
    EXPECT_EQ(WindowText(Item(IDC_FOLDER)), strNew);
    EXPECT_EQ(GetSharedFolder(), strNew);
    Command(IDOK);  // nothing changed: still a restart
    EXPECT_EQ(m_Server.nStarts, 2);
}

// "Unchanged" and the common code pages; the choice stored with the folder by OK,
// dropped by Cancel; one stored by hand shown and kept.
TEST_F(Win32Dialog, CodePageDropDown)
{
    std::vector<std::string> arrWant{"Unchanged"};
    for (const std::string& str : CharsetChoices())
        arrWant.push_back(str);
    EXPECT_EQ(CharsetItems(), arrWant);
    EXPECT_EQ(CharsetShown(), "Unchanged");
    EXPECT_EQ(GetWindowLongPtrW(Item(IDC_CHARSET), GWL_STYLE) & 0x3, CBS_DROPDOWNLIST);

    ChooseCharset("CP949");
    Command(IDOK);
    EXPECT_EQ(GetShareSetting().strCharset, "CP949");
    EXPECT_EQ(GetShareSetting().strFolder, m_Share.Share());
    ChooseCharset("CP932");
    Command(IDCANCEL);
    EXPECT_EQ(CharsetShown(), "CP949");
    EXPECT_EQ(GetShareSetting().strCharset, "CP949");
    ChooseCharset("Unchanged");
    Command(IDOK);
    EXPECT_EQ(GetShareSetting().strCharset, "");

    ASSERT_EQ(StoreShareSetting({m_Share.Share(), "EUC-KR"}), 0);
    CCorvaneWnd again(m_Server);
    ASSERT_TRUE(again.Create());
    EXPECT_EQ(WindowText(GetDlgItem(again.Handle(), IDC_CHARSET)), "EUC-KR");
    SendMessageW(again.Handle(), WM_COMMAND, IDOK, 0);
    EXPECT_EQ(GetShareSetting().strCharset, "EUC-KR");
}

namespace {

std::string ListCell(HWND hList, int nRow, int nCol)
{
    wchar_t sz[256] = L"";
    LVITEMW item{};
    item.iSubItem = nCol;
    item.pszText = sz;
    item.cchTextMax = 256;
    SendMessageW(hList, LVM_GETITEMTEXTW, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&item));
    return Utf8Text(sz);
}

// How far, in percent of the cell's width, the highlight colour of a bar reaches across a
// row's progress cell (the text on the bar leaves some of its pixels, never a whole
// column of them).
int BarReach(HWND hList, int nRow)
{
    RECT rc{};
    rc.top = 3;  // the progress column
    rc.left = LVIR_BOUNDS;
    SendMessageW(hList, LVM_GETSUBITEMRECT, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&rc));
    const COLORREF crBar = GetSysColor(COLOR_HIGHLIGHT);
    HDC hDc = GetDC(hList);
    int nColumns = 0;
    for (int x = rc.left; x < rc.right; ++x) {
        bool bBar = false;
        for (int y = rc.top; y < rc.bottom && !bBar; ++y)
            bBar = GetPixel(hDc, x, y) == crBar;
        nColumns += bBar ? 1 : 0;
    }
    ReleaseDC(hList, hDc);
    return rc.right > rc.left ? 100 * nColumns / (rc.right - rc.left) : -1;
}

}  // namespace

// Fed a status with two STBs, one of them fetching a recording: the address line, a row
// for each STB, a bar drawn over the running transfer's progress and none for the idle
// one, and the tray icon's tooltip; a later status reaches the list at the next refresh.
TEST(Win32DialogStatus, StbListShowsARunningTransferWithItsBar)
{
    CTempShare share;
    CCountingServer server;
    CStatusSnapshot snap = TwoStbsSnapshot();
    CCorvaneWnd wnd(server, [&snap] { return snap; });
    ASSERT_TRUE(wnd.Create());
    HWND hDlg = wnd.Handle();
    EXPECT_EQ(WindowText(GetDlgItem(hDlg, IDC_REACH)), "STBs reach this computer at 192.168.1.23 (port 2008)");
    HWND hList = GetDlgItem(hDlg, IDC_STB_LIST);
    EXPECT_EQ(GetWindowLongPtrW(hList, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    ASSERT_EQ(SendMessageW(hList, LVM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(ListCell(hList, 0, 0), "192.168.1.40");
    EXPECT_EQ(ListCell(hList, 0, 2), "sending /Recordings/rec.ts");
    EXPECT_EQ(ListCell(hList, 0, 3), "43 % of 2.8 GB, 30.1 MB/s");
    EXPECT_EQ(ListCell(hList, 1, 2), "idle");
    EXPECT_EQ(Utf8Text(wnd.TrayTip()), "Corvane: 2 STBs, sending rec.ts 43 %");

    UpdateWindow(hDlg);
    UpdateWindow(hList);
    EXPECT_NEAR(BarReach(hList, 0), 43, 4);
    EXPECT_EQ(BarReach(hList, 1), 0);

    snap.stbs.pop_back();
    snap.stbs[0].activity.ullDone = snap.stbs[0].activity.ullTotal;
    wnd.RefreshStatus();
    ASSERT_EQ(SendMessageW(hList, LVM_GETITEMCOUNT, 0, 0), 1);
    EXPECT_EQ(ListCell(hList, 0, 3), "100 % of 2.8 GB, 30.1 MB/s");
    UpdateWindow(hList);
    EXPECT_GE(BarReach(hList, 0), 96);
}

// Exit from the tray menu, a command reaching the message loop, the end request of Ctrl+C
// or the console's closing, and the end of the Windows session (log-off, shutdown) all
// stop the streaming server and end the dialog, its window and tray icon gone, an
// unconfirmed folder dropped. A session end that another program cancelled ends nothing.
TEST(Win32DialogEnd, ExitAndTheEndRequestEndTheDialog)
{
    enum class Way { ExitCommand, PostedExit, EndRequest, SessionEnd };
    for (Way way : {Way::ExitCommand, Way::PostedExit, Way::EndRequest, Way::SessionEnd}) {
        CTempShare share;
        CCountingServer server;
        CCorvaneWnd wnd(server);
        ASSERT_TRUE(wnd.Create());
        HWND hDlg = wnd.Handle();
        wnd.Logic().m_strFolder = share.Root();
        HANDLE hEnd = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (way == Way::ExitCommand)
            SendMessageW(hDlg, WM_COMMAND, ID_APP_EXIT, 0);
        else if (way == Way::PostedExit)
            PostMessageW(hDlg, WM_COMMAND, ID_APP_EXIT, 0);
        else if (way == Way::EndRequest)
            SetEvent(hEnd);
        if (way == Way::SessionEnd) {
            EXPECT_EQ(SendMessageW(hDlg, WM_QUERYENDSESSION, 0, 0), TRUE);  // the dialog does not object
            SendMessageW(hDlg, WM_ENDSESSION, FALSE, 0);                    // cancelled elsewhere
            EXPECT_FALSE(wnd.Ended());
            EXPECT_EQ(server.nStops, 0);
            SendMessageW(hDlg, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        }
        RunDialogLoop(wnd, hEnd);
        CloseHandle(hEnd);
        const int n = static_cast<int>(way);
        EXPECT_TRUE(wnd.Ended()) << n;
        EXPECT_EQ(server.nStops, 1) << n;
        EXPECT_EQ(server.nStarts, 0) << n;
        EXPECT_FALSE(IsWindow(hDlg)) << n;
        EXPECT_EQ(wnd.Handle(), nullptr) << n;
        EXPECT_FALSE(wnd.HasTrayIcon()) << n;
        EXPECT_EQ(GetSharedFolder(), share.Share()) << n;
    }
}

#endif  // _WIN32
