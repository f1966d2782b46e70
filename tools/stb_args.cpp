#include "tools/stb_args.h"

#include <charconv>
#include <cstdlib>

namespace {

bool TakesValue(const std::string& strName)
{
    return strName == "--host" || strName == "--port" || strName == "--timeout" || strName == "--offset" ||
           strName == "--length" || strName == "--unit";
}

// One option with its value (empty for a switch). 0, or -1 with strError set.
int TakeOption(const std::string& strName, const std::string& strValue, CStbOptions& opt, std::string& strError)
{
    uint64_t ull = 0;
    auto number = [&](uint64_t ullMin, uint64_t ullMax) {
        if (ParseNumber(strValue, ullMax, ull) && ull >= ullMin)
            return true;
        strError = strName + " takes a number from " + std::to_string(ullMin) + " to " + std::to_string(ullMax) +
                   ", not '" + strValue + "'";
        return false;
    };
    if (strName == "--host") {
        if (strValue.empty()) {
            strError = "--host needs a name or an address";
            return -1;
        }
        opt.strHost = strValue;
    } else if (strName == "--port") {
        if (!number(1, 65535))
            return -1;
        opt.usPort = static_cast<uint16_t>(ull);
    } else if (strName == "--timeout") {
        if (!number(1, 3600))
            return -1;
        opt.nTimeoutMs = static_cast<int>(ull) * 1000;
    } else if (strName == "--offset") {
        if (!number(0, UINT64_MAX))
            return -1;
        opt.ullOffset = ull;
        opt.uCmdOptions |= kOptOffset;
    } else if (strName == "--length") {
        if (!number(0, UINT64_MAX))
            return -1;
        opt.ullLength = ull;
        opt.uCmdOptions |= kOptLength;
    } else if (strName == "--unit") {
        if (!number(1, UINT32_MAX))
            return -1;
        opt.ulUnit = static_cast<uint32_t>(ull);
        opt.uCmdOptions |= kOptUnit;
    } else if (strName == "--small-frames") {
        opt.bSmallFrames = true;
    } else if (strName == "--quiet" || strName == "-q") {
        opt.bQuiet = true;
    } else if (strName == "--help" || strName == "-h") {
        opt.bHelp = true;
    } else if (strName == "--version") {
        opt.bVersion = true;
    } else if (strName == "-a" || strName == "--all") {
        opt.uCmdOptions |= kOptAll;
    } else if (strName == "--move") {
        opt.uCmdOptions |= kOptMove;
    } else if (strName == "--big") {
        opt.uCmdOptions |= kOptBig;
    } else {
        strError = "unknown option '" + strName + "'";
        return -1;
    }
    return 0;
}

}  // namespace

bool ParseNumber(const std::string& str, uint64_t ullMax, uint64_t& ullValue)
{
    const bool bHex = str.size() > 2 && str[0] == '0' && (str[1] == 'x' || str[1] == 'X');
    const char* pBegin = str.data() + (bHex ? 2 : 0);
    const char* pEnd = str.data() + str.size();
    uint64_t ull = 0;
    // Digits only: no sign, no blank, nothing after them, nothing out of range.
    const auto [pStop, ec] = std::from_chars(pBegin, pEnd, ull, bHex ? 16 : 10);
    if (pBegin == pEnd || ec != std::errc() || pStop != pEnd || ull > ullMax)
        return false;
    ullValue = ull;
    return true;
}

int ParseStbArgs(int argc, const char* const* argv, CStbOptions& opt, std::string& strError)
{
    opt = CStbOptions{};
    bool bOptionsEnd = false;
    std::vector<std::string> arrWords;
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (bOptionsEnd || strArg.size() < 2 || strArg[0] != '-') {
            arrWords.push_back(strArg);  // "-" alone is a word: standard output for get
            continue;
        }
        if (strArg == "--") {
            bOptionsEnd = true;
            continue;
        }
        std::string strName = strArg, strValue;
        const size_t nEq = strArg.find('=');
        const bool bInline = strArg.compare(0, 2, "--") == 0 && nEq != std::string::npos;
        if (bInline) {
            strName = strArg.substr(0, nEq);
            strValue = strArg.substr(nEq + 1);
        }
        if (TakesValue(strName) && !bInline) {
            if (i + 1 >= argc) {
                strError = strName + " needs a value";
                return -1;
            }
            strValue = argv[++i];
        } else if (!TakesValue(strName) && bInline) {
            strError = "option '" + strName + "' takes no value";
            return -1;
        }
        if (TakeOption(strName, strValue, opt, strError) != 0)
            return -1;
    }
    if (!arrWords.empty()) {
        opt.strCommand = arrWords.front();
        opt.arrArgs.assign(arrWords.begin() + 1, arrWords.end());
    }
    opt.strLabel = opt.strCommand;
    for (const std::string& str : opt.arrArgs)
        opt.strLabel += " " + str;
    return 0;
}
