// The streaming-server launcher: configures the outside HTTP server ("serverd.exe" and
// its libraries in Data under the working directory) to serve the shared folder, and
// stops and starts it.
#pragma once

#include "platform/process.h"

class IMessageBoxes;

// What the launcher keeps between an OK and the next OK or Exit: the process group of
// the server it started last, so that a server which runs on under another name (a
// wrapper that starts the real program) is stopped all the same. Owned by whoever
// drives the launcher (the dialog's server control, the headless run); one thread.
struct CLauncherState {
    plat::DetachedGroup m_Server;
};

// Checks, configures, stops the running server and starts a new one, remembering it in
// state. Errors go to the message boxes.
void StartStreamingServer(IMessageBoxes& boxes, CLauncherState& state);
// The same for a caller that keeps no state: the server started is stopped later by its
// names only.
void StartStreamingServer(IMessageBoxes& boxes);
// The configuration, Data/config/config.ini, gets the shared folder ([http] Documents
// Directory), the port ([http] Remote Proxy Port, [server] HTTP Port), and the daemon's
// own listen address ([http] Listen Address, 0.0.0.0 for every address) and allow-list
// ([http] Allowed Clients, as CAllowList::Text gives it), read from SessMan.
// 1 when ready (configuration written, folders present, old server stopped); -1 when a
// required library is missing, -2 when Data lies inside the shared folder (where a host
// could replace the programs); then nothing was done.
int PrepareStreamingServer(CLauncherState& state);
int PrepareStreamingServer();
// Stops the server started last (its whole process group, while it is still ours) and
// every process of ours running or holding "serverd.exe", "httpd.exe" or "Httpd.exe".
void StopStreamingServer(CLauncherState& state);
void StopStreamingServer();
// Ends every process of our own user that has a module of exactly this name. 0 when
// the processes cannot be listed, else 1.
int KillProcessesByModule(const char* pszModule);
// True when the process has a module of exactly this name: its executable, its command
// name or a library it has loaded.
bool ProcessHasModule(int nPid, const char* pszModule);
