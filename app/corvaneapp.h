// The application: one running copy per user, the listener, then the dialog (or, headless,
// the wait for SIGINT or SIGTERM), then the orderly shutdown.
#pragma once

#include "app/cmdline.h"

#include <string>

class CSessMan;
class IMessageBoxes;

// Sets the manager's network options and the STB's code page: each from the command line
// when given there, else from the settings file's [Config] section, else its default (a
// switch is on when either turns it on; a stored code page is only checked here, since
// the sessions read it afresh). 0, or -1 with a message for the user in strError when a
// stored value is not valid (the manager is then unchanged).
int ApplyNetOptions(const CCmdLine& cmd, CSessMan& man, std::string& strError);

// The dialog and tray icon of a window system.
class IShellUi {
public:
    virtual ~IShellUi() = default;
    virtual IMessageBoxes& Boxes() = 0;
    // Runs the dialog and the tray icon until Exit (SIGINT and SIGTERM act as Exit): 0; or
    // -1, said on standard error, when the dialog cannot be made.
    virtual int RunDialog() = 0;
};

class CCorvaneApp {
public:
    // Runs the program; returns its exit status. pUi is null for the headless daemon.
    int InitInstance(const CCmdLine& cmd, IShellUi* pUi);
};

extern CCorvaneApp theApp;
