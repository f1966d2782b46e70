// The daemon's command line:
//   corvane [--headless] [--config FILE] [--share DIR] [--charset NAME] [--port N]
//           [--listen ADDR] [--allow LIST] [--max-sessions N] [--max-sessions-per-host N]
//           [--read-only] [--wide-links] [--status-listen ADDR:PORT|off] [--stream] [--quiet]
//           [--help] [--version]
//   corvane --status [--config FILE] [--status-listen ADDR:PORT]
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
    // The settings file to use instead of the per-user one.
    bool bHasConfig = false;
    std::string strConfig;
    // The STB's code page (checked; empty: names pass unchanged); when given it wins over
    // the stored one.
    bool bHasCharset = false;
    std::string strCharset;
    uint16_t usPort = 2008;
    // The network options; each one not given here comes from the settings file.
    bool bHasListen = false;
    std::string strListen;  // a dotted IPv4 address
    bool bHasAllow = false;
    std::string strAllow;   // checked by CAllowList::Parse
    int nMaxSessions = 0;   // 0: not given
    int nMaxSessionsPerHost = 0;
    bool bReadOnly = false;
    bool bWideLinks = false;
    // Where the status page is served (checked: "ADDR:PORT" or "off"); when not given, the
    // settings file's or the default.
    bool bHasStatusListen = false;
    std::string strStatusListen;
    // `corvane --status`: print the running daemon's status from its page, and end.
    bool bStatus = false;
};

// Parses argv. 0, or -1 with a message for the user in strError.
int ParseCmdLine(int argc, const char* const* argv, CCmdLine& cmd, std::string& strError);

// The text of --help.
const char* UsageText();

// The forms of the option values, shared by the command line and the settings file.
// Each returns 0, or -1 when the text is not of the form.
// A session cap: a whole number from 1 to kMaxSessionCap.
constexpr int kMaxSessionCap = 100000;
int ParseSessionCap(const char* pszText, int& nValue);
// A switch of the settings file: 1, 0, true, false, yes, no, on, off (any case).
int ParseSwitch(const char* pszText, bool& bValue);
