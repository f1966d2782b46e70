// The daemon's own files: the one list of what no STB may reach, and the line that says so
// when the shared folder holds the settings file.
#pragma once

#include <string>
#include <vector>

// The daemon's own files as absolute paths: the settings file in use (the per-user one or
// the one --config names; none where the settings live in the registry), the
// single-instance lock (none where it is no file) and the journal's folder, which ends
// with '/': the folder and everything in it are the daemon's own. Any thread; cheap enough for every
// request (nothing is read or made).
std::vector<std::string> DaemonOwnPaths();

// The sentence that says the folder holds the settings file in use, which STBs cannot
// reach ("the shared folder holds Corvane's settings file ...; STBs cannot reach it"), or
// the empty string when it does not.
std::string OwnFilesNote(const std::string& strFolder);
