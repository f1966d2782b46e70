// The application: one running copy per user, the listener, then the dialog (or, headless,
// the wait for SIGINT or SIGTERM), then the orderly shutdown.
#pragma once

#include "app/cmdline.h"

#include <string>

class CSessMan;
class IMessageBoxes;
struct CStatusListen;

// Sets the manager's network options and the STB's code page: each from the command line
// when given there, else from the settings file's [Config] section, else its default (a
// switch is on when either turns it on; a stored code page is only checked here, since
// the sessions read it afresh). 0, or -1 with a message for the user in strError when a
// stored value is not valid (the manager is then unchanged).
int ApplyNetOptions(const CCmdLine& cmd, CSessMan& man, std::string& strError);

// Where the status page is served: --status-listen when given, else the settings file's
// [Config] StatusListen, else 127.0.0.1:2009; off where the build serves no page (the key
// is then not read). 0, or -1 with a message for the user in strError when the stored
// value is not of its form.
int StatusListenOption(const CCmdLine& cmd, CStatusListen& listen, std::string& strError);

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
    // `corvane --status`: prints the status of the daemon whose page answers at the address
    // StatusListenOption gives. Its exit status: 0; 3 when no daemon answers there; 2 when
    // the stored address is not valid.
    int PrintRunningStatus(const CCmdLine& cmd);
};

extern CCorvaneApp theApp;
