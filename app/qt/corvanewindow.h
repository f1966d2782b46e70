// The main dialog's window: the "Sharing folder" group with the folder and Browse...,
// below it where STBs reach this computer and the list of STBs connected (a progress bar
// for each transfer), the "Names on the STB" row, OK and Cancel, and the tray icon with
// its "App" menu and the status as its tooltip. All decisions are the logic's
// (CCorvaneDlg); this class only draws and forwards.
#pragma once

#include <QDialog>
#include <QSystemTrayIcon>
#include <memory>

#include "app/corvanedlg.h"
#include "platform/signals.h"

class QComboBox;
class QLabel;
class QMenu;
class QSocketNotifier;
class QTimer;
class QTreeWidget;
class QVBoxLayout;

class CCorvaneWindow : public QDialog, public IDlgWindow {
    Q_OBJECT
public:
    // hTermination (a plat::CTerminationNotifier's handle, or plat::kNoTerminationHandle):
    // a request to end the process arriving there acts as Exit. The status comes from
    // status, read now and then once a second; without one the status part stays empty.
    CCorvaneWindow(IServerControl& server, plat::TerminationHandle hTermination, StatusSource status = {});
    ~CCorvaneWindow() override;

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

protected:
    void accept() override;
    void reject() override;
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void BuildControls();
    void BuildTray();
    void BuildStatus(QVBoxLayout* pLayout);

    std::unique_ptr<CCorvaneDlg> m_pLogic;
    QLabel* m_pFolder = nullptr;
    QLabel* m_pShareNote = nullptr;  // shown only while it has something to say
    QComboBox* m_pCharset = nullptr;
    QLabel* m_pReach = nullptr;      // where STBs reach this computer, a line each
    QTreeWidget* m_pStbs = nullptr;  // the STBs connected
    QTimer* m_pStatusTimer = nullptr;
    StatusSource m_Status;
    QSystemTrayIcon* m_pTray = nullptr;
    QMenu* m_pTrayMenu = nullptr;
    QSocketNotifier* m_pTermination = nullptr;
    plat::TerminationHandle m_hTermination = plat::kNoTerminationHandle;
};
