// The client's help texts.
#pragma once

#include <string>

// The whole text of --help.
const char* HelpText();
// Prints "corvane-stb: <message>" and the short usage on standard error; returns the exit
// status of wrong usage (2).
int ReportUsage(const std::string& strMessage);
