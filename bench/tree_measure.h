// Folder requests through the real daemon over loopback, as an STB makes them: a
// listing (FC_DIR_REQ and its block), the list of a directory download (FC_DIR_DN_REQ)
// and a directory upload (FC_DIR_UP_REQ with its entries). Every reply is checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_daemon.h"

// FC_DIR_REQ of strStbFolder, then the whole listing block fetched with 0x23. names
// receives the listed names in order; dSeconds the time from the request to the block's
// last byte. The folder must hold files only: "." and ".." have to be listed as folders,
// every other entry as a file.
bool DaemonListing(const CBenchDaemon& daemon, const std::string& strStbFolder, std::vector<std::string>& names,
                   double& dSeconds);

struct TreeListRun {
    double dSeconds = 0;   // request to the 0xE3 reply
    long nRssBeforeKiB = 0;  // the daemon's VmRSS with the session open, before the request
    long nRssAfterKiB = 0;   // and with the list built (the session still holds it)
};

// FC_DIR_DN_REQ of strStbRoot, whose tree is described by facts: the reply must count
// every folder and file and sum the files' sizes. The session is closed afterwards.
bool DaemonTreeList(const CBenchDaemon& daemon, const std::string& strStbRoot, const TreeFacts& facts,
                    TreeListRun& run);

// FC_RMDIR_REQ of strStbFolder, which must answer done. dSeconds: the request to its reply.
bool DaemonRemoveTree(const CBenchDaemon& daemon, const std::string& strStbFolder, double& dSeconds);

// A directory upload into the STB folder strStbInto (which must exist): a folder
// strTop, nFolders folders in it, nFilesPer files of nFileBytes bytes in each, sent as
// an STB sends them (one entry, then its data, each reply awaited). dSeconds: the
// request to the last reply.
bool DaemonDirUpload(const CBenchDaemon& daemon, const std::string& strStbInto, const std::string& strTop,
                     int nFolders, int nFilesPer, size_t nFileBytes, double& dSeconds);

// True when strLocalTop holds exactly what DaemonDirUpload sent.
bool CheckDirUpload(const std::string& strLocalTop, int nFolders, int nFilesPer, size_t nFileBytes);
