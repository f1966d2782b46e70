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

// The path with every link, "." and ".." resolved (the path must exist), or the empty
// string when it cannot be resolved.
std::string CanonicalPath(const std::string& strPath);

// A process group started by StartDetached. The program leads a session of its own, so
// the group's id is its process id; the leader's start time (clock ticks after boot)
// tells it apart from a later process that is given the same id. nGroup 0: none.
struct DetachedGroup {
    int nGroup = 0;
    unsigned long long ullStart = 0;
};

// Starts pszFile (a path relative to strDir, or absolute) with strDir as its working
// directory, in a session of its own, its standard streams on /dev/null, not waited
// for. The result reads like the shell's: 33 on success, 2 when the file is missing,
// 5 when it may not be executed, 31 for any other failure. On success *pGroup (when
// given) is the new process group; otherwise it is left as it was.
int StartDetached(const char* pszFile, const std::string& strDir, DetachedGroup* pGroup = nullptr);

// Ends every process of the group at once (SIGKILL to the group), but only while it is
// still the group that was started: its leader, if still running, has the recorded
// start time, and every member runs as our real user. 1 when signalled, 0 when the
// group is gone (or nGroup is 0), -1 when it is no longer ours or cannot be signalled.
int KillProcessGroup(const DetachedGroup& group);

// This process's id.
int CurrentProcessId();

// The ids of all processes; false when they cannot be listed.
bool ListProcesses(std::vector<int>& pids);

// True when the process's real user is ours. False for a process that cannot be read.
bool IsOwnProcess(int nPid);

// True when the process runs an executable or has a command name whose base name
// equals pszModule byte for byte, or has a file of that base name mapped executable (a
// loaded library; a file mapped only for its data does not count). False for a
// process that cannot be read.
bool ProcessHasModuleName(int nPid, const char* pszModule);

// Ends the process at once when it is ours (real user) and has the module
// (ProcessHasModuleName); the check and the signal concern the same process even if
// it ends in between and its id is given to another. 1 when signalled, 0 when it does
// not qualify, -1 when it cannot be signalled.
int KillOwnProcessWithModule(int nPid, const char* pszModule);

}  // namespace plat
