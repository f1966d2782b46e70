// The main dialog's window: the "Sharing folder" group with the folder and Browse...,
// the "Names on the STB" row, OK and Cancel, and the tray icon with its "App" menu. All
// decisions are the logic's (CCorvaneDlg); this class only draws and forwards.
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

class CCorvaneWindow : public QDialog, public IDlgWindow {
    Q_OBJECT
public:
    // hTermination (a plat::CTerminationNotifier's handle, or plat::kNoTerminationHandle):
    // a request to end the process arriving there acts as Exit.
    CCorvaneWindow(IServerControl& server, plat::TerminationHandle hTermination);
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

protected:
    void accept() override;
    void reject() override;
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void BuildControls();
    void BuildTray();

    std::unique_ptr<CCorvaneDlg> m_pLogic;
    QLabel* m_pFolder = nullptr;
    QLabel* m_pShareNote = nullptr;  // shown only while it has something to say
    QComboBox* m_pCharset = nullptr;
    QSystemTrayIcon* m_pTray = nullptr;
    QMenu* m_pTrayMenu = nullptr;
    QSocketNotifier* m_pTermination = nullptr;
    plat::TerminationHandle m_hTermination = plat::kNoTerminationHandle;
};
