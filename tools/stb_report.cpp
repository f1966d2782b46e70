#include "tools/stb_report.h"

#include <cstdio>

#include "net/protocol.h"
#include "platform/console.h"
#include "tools/progress.h"
#include "tools/stb_conn.h"

const char* StatusMeaning(uint8_t ucStatus)
{
    switch (ucStatus) {
    case kStatusDone:
        return "done";
    case kStatusFailed:
        return "the daemon could not do it";
    case kStatusRunning:
        return "still running";
    case kStatusNoMemory:
        return "the daemon ran out of memory";
    case kStatusShort:
        return "the daemon could not read it whole";
    case kStatusInvalid:
        return "the daemon took the request as invalid";
    default:
        return "a status this client does not know";
    }
}

int Report(const CStbOptions& opt, int nExit, const std::string& strMessage)
{
    fflush(stdout);
    InterruptProgress();
    if (opt.strLabel.empty())
        fprintf(stderr, "corvane-stb: %s\n", strMessage.c_str());
    else
        fprintf(stderr, "corvane-stb: %s: %s\n", opt.strLabel.c_str(), strMessage.c_str());
    return nExit;
}

int ReportStatus(const CStbOptions& opt, uint8_t ucStatus, const char* pszMeaning, const std::string& strWhat)
{
    std::string strMessage = strWhat.empty() ? std::string() : strWhat + ": ";
    strMessage += "failed (status " + std::to_string(ucStatus) + ": " +
                  (pszMeaning != nullptr ? pszMeaning : StatusMeaning(ucStatus)) + ")";
    return Report(opt, kExitFailed, strMessage);
}

int ReportConn(const CStbOptions& opt, const CStbConn& conn) { return Report(opt, kExitConn, conn.Error()); }

int OpenConn(const CStbOptions& opt, CStbConn& conn)
{
    if (conn.Connect(opt.strHost, opt.usPort, opt.nTimeoutMs) != 0)
        return ReportConn(opt, conn);
    return 0;
}

bool ProgressWanted(const CStbOptions& opt) { return !opt.bQuiet && plat::StderrIsTerminal(); }
