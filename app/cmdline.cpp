#include "app/cmdline.h"

#include <cstdlib>
#include <cstring>

const char* UsageText()
{
    return "Usage: corvane [--headless] [--share DIR] [--port N] [--stream] [--quiet] [--help] [--version]\n"
           "Shares one folder with set-top boxes on TCP port 2008.\n"
           "  --headless   no dialog and no tray icon\n"
           "  --share DIR  store DIR as the shared folder before serving\n"
           "  --port N     listen on port N instead of 2008\n"
           "  --stream     (headless) start the streaming server once, stop it at exit\n"
           "  --quiet      no diagnostic lines on standard output\n"
           "  --help       show this text\n"
           "  --version    show the version\n";
}

int ParseCmdLine(int argc, const char* const* argv, CCmdLine& cmd, std::string& strError)
{
    cmd = CCmdLine{};
    for (int i = 1; i < argc; ++i) {
        const char* pszArg = argv[i];
        if (strcmp(pszArg, "--headless") == 0) {
            cmd.bHeadless = true;
        } else if (strcmp(pszArg, "--stream") == 0) {
            cmd.bStream = true;
        } else if (strcmp(pszArg, "--quiet") == 0) {
            cmd.bQuiet = true;
        } else if (strcmp(pszArg, "--help") == 0 || strcmp(pszArg, "-h") == 0) {
            cmd.bHelp = true;
        } else if (strcmp(pszArg, "--version") == 0) {
            cmd.bVersion = true;
        } else if (strcmp(pszArg, "--share") == 0 || strcmp(pszArg, "--port") == 0) {
            if (i + 1 >= argc) {
                strError = std::string(pszArg) + " needs a value";
                return -1;
            }
            const char* pszValue = argv[++i];
            if (pszArg[2] == 's') {
                if (*pszValue == '\0') {
                    strError = "--share needs a folder";
                    return -1;
                }
                cmd.bHasShare = true;
                cmd.strShare = pszValue;
            } else {
                char* pEnd = nullptr;
                long nPort = strtol(pszValue, &pEnd, 10);
                if (*pszValue == '\0' || *pEnd != '\0' || nPort < 1 || nPort > 65535) {
                    strError = std::string("--port takes a number from 1 to 65535, not '") + pszValue + "'";
                    return -1;
                }
                cmd.usPort = static_cast<uint16_t>(nPort);
            }
        } else {
            strError = std::string("unknown option '") + pszArg + "'";
            return -1;
        }
    }
    return 0;
}
