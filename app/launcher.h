// The streaming-server launcher: configures the outside HTTP server ("serverd.exe" and
// its libraries in Data under the working directory) to serve the shared folder, and
// stops and starts it.
#pragma once

class IMessageBoxes;

// Checks, configures, stops the running server and starts a new one. Errors go to the
// message boxes.
void StartStreamingServer(IMessageBoxes& boxes);
// 1 when ready (configuration written, folders present, old server stopped), -1 when a
// required library is missing (then nothing was done).
int PrepareStreamingServer();
// Stops every process running or holding "serverd.exe", "httpd.exe" or "Httpd.exe".
void StopStreamingServer();
// Ends every process that has a module of exactly this name. 0 when the processes
// cannot be listed, else 1.
int KillProcessesByModule(const char* pszModule);
// True when the process has a module of exactly this name.
bool ProcessHasModule(int nPid, const char* pszModule);
