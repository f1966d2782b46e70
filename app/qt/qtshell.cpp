#include "app/qt/qtshell.h"
#include "app/qt/icon.h"

#include <QApplication>
#include <QMessageBox>

#include "app/daemonstatus.h"
#include "app/launcher.h"
#include "app/qt/corvanewindow.h"
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

}  // namespace

void CQtBoxes::Show(const std::string& strText, Icon eIcon)
{
    QMessageBox box(eIcon == Icon::Error ? QMessageBox::Critical : QMessageBox::Warning,
                    QString::fromStdString(plat::GetAppName()), QString::fromStdString(strText), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

CQtShell::CQtShell(int& argc, char** argv)
{
    m_pApp = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QString::fromStdString(plat::GetAppName()));
    QApplication::setWindowIcon(CorvaneIcon());
    // Hiding the dialog to the tray does not end the program; only Exit does.
    QApplication::setQuitOnLastWindowClosed(false);
}

CQtShell::~CQtShell() = default;

int CQtShell::RunDialog()
{
    CServerControl server(m_Boxes);
    plat::CTerminationNotifier termination;  // SIGINT and SIGTERM act as Exit
    CCorvaneWindow window(server, termination.Handle(), DaemonStatusSource());
    window.show();
    QApplication::exec();
    return 0;
}
