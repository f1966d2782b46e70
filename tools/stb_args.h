// The client's command line: global options, the command, its arguments and options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Options that belong to one command or another (which ones a command takes is checked by
// the caller against its table).
enum : unsigned {
    kOptAll = 1u << 0,     // ls -a
    kOptOffset = 1u << 1,  // get --offset N
    kOptLength = 1u << 2,  // get --length M
    kOptMove = 1u << 3,    // getdir --move
    kOptBig = 1u << 4,     // put --big
    kOptUnit = 1u << 5,    // df --unit N
};

struct CStbOptions {
    std::string strHost = "127.0.0.1";
    uint16_t usPort = 2008;
    bool bSmallFrames = false;
    bool bQuiet = false;
    int nTimeoutMs = 15000;
    bool bHelp = false;
    bool bVersion = false;

    std::string strCommand;
    std::vector<std::string> arrArgs;  // the arguments after the command
    unsigned uCmdOptions = 0;          // the kOpt* options given
    uint64_t ullOffset = 0;
    uint64_t ullLength = 0;
    uint32_t ulUnit = 0;

    std::string strLabel;  // the command and its arguments, as messages name the operation
};

// Parses argv: options may stand anywhere, "--" ends them, "--name=value" works as well
// as "--name value". 0, or -1 with a message for the user in strError.
int ParseStbArgs(int argc, const char* const* argv, CStbOptions& opt, std::string& strError);

// A decimal (or 0x-prefixed hexadecimal) number no greater than ullMax. False otherwise.
bool ParseNumber(const std::string& str, uint64_t ullMax, uint64_t& ullValue);
