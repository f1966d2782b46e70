// The dialog and tray icon on Qt: the application object, message boxes, and the run
// of the main dialog until Exit.
#pragma once

#include <memory>

#include "app/corvaneapp.h"
#include "app/msgbox.h"

class QApplication;

// Message boxes captioned with the application name.
class CQtBoxes : public IMessageBoxes {
public:
    void Show(const std::string& strText, Icon eIcon) override;
};

class CQtShell : public IShellUi {
public:
    CQtShell(int& argc, char** argv);
    ~CQtShell() override;

    IMessageBoxes& Boxes() override { return m_Boxes; }
    int RunDialog() override;

private:
    std::unique_ptr<QApplication> m_pApp;
    CQtBoxes m_Boxes;
};
