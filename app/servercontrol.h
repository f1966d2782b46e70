// The dialog's control of the streaming server, the same in the Qt and the Win32 shell:
// OK restarts the server through the launcher, Exit stops the one this dialog started.
#pragma once

#include "app/corvanedlg.h"
#include "app/launcher.h"

class IMessageBoxes;

class CServerControl : public IServerControl {
public:
    // The launcher's errors go to the boxes, which must outlive this object.
    explicit CServerControl(IMessageBoxes& boxes) : m_Boxes(boxes) {}

    void Start() override;
    void Stop() override;

private:
    IMessageBoxes& m_Boxes;
    CLauncherState m_Launcher;  // the server this dialog started, stopped on OK and Exit
};
