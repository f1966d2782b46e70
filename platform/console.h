// The client's console and its own machine's files: what corvane-stb needs of the
// operating system besides sockets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace plat {

// True when standard error is a terminal (the progress bar is drawn only there).
bool StderrIsTerminal();
// A closed pipe on standard output makes the write fail instead of ending the process.
void IgnoreBrokenPipe();

// Opens a local file of this machine for reading, never waiting on a FIFO or device: only
// a regular file is kept. 0 with *ppFile and ullSize set; -1 when it cannot be opened
// (strError: the system's words), -2 when it is not a regular file.
int OpenLocalForReading(const std::string& strPath, FILE** ppFile, uint64_t& ullSize, std::string& strError);

}  // namespace plat
