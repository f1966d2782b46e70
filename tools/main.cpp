// corvane-stb: the STB side of the protocol on the command line, for the people who build
// and test set-top boxes, for moving files from a shell, and for the end-to-end tests.
#include <cstdio>
#include <string>

#include "platform/console.h"
#include "tools/stb_args.h"
#include "tools/stb_cmds.h"
#include "tools/stb_report.h"
#include "tools/stb_usage.h"
#include "corvane_version.h"

namespace {

struct CCommand {
    const char* pszName;
    size_t nMinArgs;
    size_t nMaxArgs;
    unsigned uOptions;  // the kOpt* options the command takes
    int (*pfnRun)(const CStbOptions& opt);
};

const CCommand kCommands[] = {
    {"ver", 0, 0, 0, CmdVer},
    {"ls", 0, 1, kOptAll, CmdLs},
    {"stat", 1, 1, 0, CmdStat},
    {"df", 0, 0, kOptUnit, CmdDf},
    {"get", 1, 2, kOptOffset | kOptLength, CmdGet},
    {"put", 2, 2, kOptBig, CmdPut},
    {"cp", 2, 2, 0, CmdCp},
    {"mv", 2, 2, 0, CmdMv},
    {"rm", 1, 1, 0, CmdRm},
    {"mkdir", 1, 1, 0, CmdMkdir},
    {"rmdir", 1, 1, 0, CmdRmdir},
    {"getdir", 2, 2, kOptMove, CmdGetdir},
    {"putdir", 2, 2, 0, CmdPutdir},
    {"fwcheck", 2, 2, 0, CmdFwcheck},
};

const char* OptionName(unsigned uOption)
{
    switch (uOption) {
    case kOptAll:
        return "-a";
    case kOptOffset:
        return "--offset";
    case kOptLength:
        return "--length";
    case kOptMove:
        return "--move";
    case kOptBig:
        return "--big";
    case kOptUnit:
        return "--unit";
    default:
        return "?";
    }
}

}  // namespace

int main(int argc, char** argv)
{
    plat::IgnoreBrokenPipe();
    CStbOptions opt;
    std::string strError;
    if (ParseStbArgs(argc, argv, opt, strError) != 0)
        return ReportUsage(strError);
    if (opt.bHelp) {
        fputs(HelpText(), stdout);
        return kExitDone;
    }
    if (opt.bVersion) {
        puts("corvane-stb " CORVANE_VERSION);
        return kExitDone;
    }
    if (opt.strCommand.empty())
        return ReportUsage("no command given");
    for (const CCommand& cmd : kCommands) {
        if (opt.strCommand != cmd.pszName)
            continue;
        if (opt.arrArgs.size() < cmd.nMinArgs || opt.arrArgs.size() > cmd.nMaxArgs)
            return ReportUsage(std::string(cmd.pszName) + ": wrong number of arguments");
        const unsigned uStray = opt.uCmdOptions & ~cmd.uOptions;
        if (uStray != 0)
            return ReportUsage(std::string(cmd.pszName) + " does not take " + OptionName(uStray & -uStray));
        for (const std::string& strArg : opt.arrArgs)
            if (strArg.empty())
                return ReportUsage(std::string(cmd.pszName) + ": an argument is empty");
        const int rc = cmd.pfnRun(opt);
        if (fflush(stdout) != 0 && rc == kExitDone)
            return Report(opt, kExitFailed, "cannot write to standard output");
        return rc;
    }
    return ReportUsage("unknown command '" + opt.strCommand + "'");
}
