// The application: one running copy per user, the listener, then the dialog (or, headless,
// the wait for SIGINT or SIGTERM), then the orderly shutdown.
#pragma once

#include "app/cmdline.h"

class IMessageBoxes;

// The dialog and tray icon of a window system.
class IShellUi {
public:
    virtual ~IShellUi() = default;
    virtual IMessageBoxes& Boxes() = 0;
    // Runs the dialog and the tray icon until Exit (SIGINT and SIGTERM act as Exit).
    virtual void RunDialog() = 0;
};

class CCorvaneApp {
public:
    // Runs the program; returns its exit status. pUi is null for the headless daemon.
    int InitInstance(const CCmdLine& cmd, IShellUi* pUi);
};

extern CCorvaneApp theApp;
