// Ids of the Windows resources (res/corvane.rc) and of the commands the dialog receives.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_CORVANE_DIALOG 102
#define IDR_MAINFRAME 128  // the application icon and the tray's menu

#define IDC_BROWSE 1000
#define IDC_FOLDER 1001
#define IDC_VERSION 1003
#define IDC_ABOUT_ICON 1005
#define IDC_SHARING_GROUP 1006
#define IDC_CHARSET_LABEL 1007
#define IDC_CHARSET 1008
#define IDC_SHARE_NOTE 1009
#define IDC_STATUS_GROUP 1010
#define IDC_REACH 1011
#define IDC_STB_LIST 1012

#define ID_TRAY_OPEN 32771
#define ID_APP_ABOUT 0xE140  // 57664
#define ID_APP_EXIT 0xE141   // 57665

// The About item of the system menu.
#define IDM_ABOUTBOX 0x0010

// The tray icon's callback message.
#define WM_TRAYNOTIFY (WM_USER + 100)
