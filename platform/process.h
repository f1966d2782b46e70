// Processes: the working directory, starting a program detached, and finding and
// stopping processes by the name of a module they run or have loaded.
#pragma once

#include <string>
#include <vector>

namespace plat {

// The process's current working directory, or the empty string.
std::string GetCurrentDir();

// True when a file or folder of exactly this path exists.
bool PathExists(const std::string& strPath);

// Starts pszFile (a path relative to strDir, or absolute) with strDir as its working
// directory, in a session of its own, its standard streams on /dev/null, not waited
// for. The result reads like the shell's: 33 on success, 2 when the file is missing,
// 5 when it may not be executed, 31 for any other failure.
int StartDetached(const char* pszFile, const std::string& strDir);

// The ids of all processes; false when they cannot be listed.
bool ListProcesses(std::vector<int>& pids);

// True when the process runs an executable, has a command name, or maps a file whose
// base name equals pszModule byte for byte. False for a process that cannot be read.
bool ProcessHasModuleName(int nPid, const char* pszModule);

// Ends the process at once. 0, or -1 when it cannot be signalled.
int KillProcess(int nPid);

}  // namespace plat
