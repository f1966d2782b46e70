// The daemon's command line:
//   corvane [--headless] [--share DIR] [--port N] [--stream] [--quiet] [--help] [--version]
#pragma once

#include <cstdint>
#include <string>

struct CCmdLine {
    bool bHeadless = false;
    bool bStream = false;
    bool bQuiet = false;
    bool bHelp = false;
    bool bVersion = false;
    bool bHasShare = false;
    std::string strShare;
    uint16_t usPort = 2008;
};

// Parses argv. 0, or -1 with a message for the user in strError.
int ParseCmdLine(int argc, const char* const* argv, CCmdLine& cmd, std::string& strError);

// The text of --help.
const char* UsageText();
