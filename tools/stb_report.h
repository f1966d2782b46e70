// Exit statuses and the messages that go with them. Every message is one line on standard
// error: "corvane-stb: <command and arguments>: <what happened>".
#pragma once

#include <cstdint>
#include <string>

#include "tools/stb_args.h"

class CStbConn;

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;  // the daemon reported a failure, or a local file failed
constexpr int kExitUsage = 2;
constexpr int kExitConn = 3;    // no connection, a time-out, or a frame the client cannot accept

// What a status byte of a reply means.
const char* StatusMeaning(uint8_t ucStatus);

// Prints the message under the operation's label and returns nExit.
int Report(const CStbOptions& opt, int nExit, const std::string& strMessage);
// "failed (status N: meaning)"; the meaning defaults to StatusMeaning(). Returns kExitFailed.
int ReportStatus(const CStbOptions& opt, uint8_t ucStatus, const char* pszMeaning = nullptr,
                 const std::string& strWhat = "");
// The connection's own error. Returns kExitConn.
int ReportConn(const CStbOptions& opt, const CStbConn& conn);

// Connects as the options say. 0, or kExitConn after the message.
int OpenConn(const CStbOptions& opt, CStbConn& conn);

// True when transfers should draw a progress bar: standard error is a terminal and
// --quiet was not given.
bool ProgressWanted(const CStbOptions& opt);
