#include "app/cmdline.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "app/status/statuslisten.h"
#include "fs/names.h"
#include "net/allowlist.h"

const char* UsageText()
{
    return "Usage: corvane [--headless] [--config FILE] [--share DIR] [--charset NAME] [--port N]\n"
           "               [--listen ADDR] [--allow LIST] [--max-sessions N] [--max-sessions-per-host N]\n"
           "               [--read-only] [--wide-links] [--status-listen ADDR:PORT|off] [--stream] [--quiet]\n"
           "               [--help] [--version]\n"
           "       corvane --status [--config FILE] [--status-listen ADDR:PORT]\n"
           "Shares one folder with set-top boxes on TCP port 2008.\n"
           "  --headless                 no dialog and no tray icon\n"
           "  --config FILE              use FILE as the settings file (default ~/.config/Corvane/corvane.ini)\n"
           "  --share DIR                store DIR as the shared folder before serving\n"
           "  --charset NAME             code page of names on the STB (CP1252, CP949, CP932, GBK, BIG5,\n"
           "                             ISO-8859-1 ...); default and '': names pass unchanged\n"
           "  --port N                   listen on port N instead of 2008\n"
           "  --listen ADDR              listen on one IPv4 address only: other networks cannot connect\n"
           "  --allow LIST               who may connect: a.b.c.d[/n],... or all; default the private ranges\n"
           "  --max-sessions N           sessions at once (default 256): a flood cannot exhaust the daemon\n"
           "  --max-sessions-per-host N  sessions from one address (default 8): one host cannot take all\n"
           "  --read-only                no request may change the shared folder, whoever sends it\n"
           "  --wide-links               follow links out of the shared folder (off: links expose nothing)\n"
           "  --status-listen ADDR:PORT  serve the read-only status page there (default 127.0.0.1:2009,\n"
           "                             this computer only; off: no page); the --allow list applies\n"
           "                             (not on Windows, where the dialog and tray show the status)\n"
           "  --status                   print the running daemon's status (read from its status page) and\n"
           "                             end; exit status 3 when no daemon answers (not on Windows)\n"
           "  --stream                   (headless) start the streaming server once, stop it at exit\n"
           "  --quiet                    no diagnostic lines on standard output\n"
           "  --help                     show this text\n"
           "  --version                  show the version\n"
           "The settings file's [Config] keys Charset, Listen, Allow, MaxSessions, MaxSessionsPerHost,\n"
           "ReadOnly=1, WideLinks=1 and StatusListen set the same; the command line wins.\n";
}

int ParseSessionCap(const char* pszText, int& nValue)
{
    const char* pszEnd = pszText + strlen(pszText);
    long n = 0;
    const auto [pStop, ec] = std::from_chars(pszText, pszEnd, n);  // digits only: no sign, no blank
    if (ec != std::errc() || pStop != pszEnd || n < 1 || n > kMaxSessionCap)
        return -1;
    nValue = static_cast<int>(n);
    return 0;
}

namespace {

// Equal when the texts differ at most in the case of ASCII letters.
bool EqualsIgnoringCase(const char* pszA, const char* pszB)
{
    auto Fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (; *pszA != '\0' && *pszB != '\0'; ++pszA, ++pszB) {
        if (Fold(*pszA) != Fold(*pszB))
            return false;
    }
    return *pszA == *pszB;
}

}  // namespace

int ParseSwitch(const char* pszText, bool& bValue)
{
    for (const char* psz : {"1", "true", "yes", "on"}) {
        if (EqualsIgnoringCase(pszText, psz)) {
            bValue = true;
            return 0;
        }
    }
    for (const char* psz : {"0", "false", "no", "off"}) {
        if (EqualsIgnoringCase(pszText, psz)) {
            bValue = false;
            return 0;
        }
    }
    return -1;
}

namespace {

// Takes the value of an option that has one. 0, or -1 with the message in strError.
int TakeValue(const char* pszOption, const char* pszValue, CCmdLine& cmd, std::string& strError)
{
    const std::string strOption = pszOption;
    const std::string strQuoted = std::string(" '") + pszValue + "'";
    if (strOption == "--share") {
        if (*pszValue == '\0') {
            strError = "--share needs a folder";
            return -1;
        }
        cmd.bHasShare = true;
        cmd.strShare = pszValue;
    } else if (strOption == "--config") {
        if (*pszValue == '\0') {
            strError = "--config needs a file";
            return -1;
        }
        cmd.bHasConfig = true;
        cmd.strConfig = pszValue;
    } else if (strOption == "--charset") {
        if (*pszValue != '\0' && CheckStbCodePage(pszValue) != 0) {
            strError = "--charset takes a code page such as CP1252, CP949, CP932, GBK, BIG5 or ISO-8859-1, not" +
                       strQuoted;
            return -1;
        }
        cmd.bHasCharset = true;
        cmd.strCharset = pszValue;
    } else if (strOption == "--port") {
        char* pEnd = nullptr;
        long nPort = strtol(pszValue, &pEnd, 10);
        if (*pszValue == '\0' || *pEnd != '\0' || nPort < 1 || nPort > 65535) {
            strError = "--port takes a number from 1 to 65535, not" + strQuoted;
            return -1;
        }
        cmd.usPort = static_cast<uint16_t>(nPort);
    } else if (strOption == "--listen") {
        uint32_t ulAddr = 0;
        if (ParseIPv4(pszValue, ulAddr) != 0) {
            strError = "--listen takes one IPv4 address such as 192.168.1.5, not" + strQuoted;
            return -1;
        }
        cmd.bHasListen = true;
        cmd.strListen = pszValue;
    } else if (strOption == "--allow") {
        CAllowList list;
        if (list.Parse(pszValue) != 0) {
            strError = "--allow takes IPv4 addresses and prefixes separated by commas (such as "
                       "192.168.1.0/24,10.0.0.7) or 'all', not" + strQuoted;
            return -1;
        }
        cmd.bHasAllow = true;
        cmd.strAllow = pszValue;
    } else if (strOption == "--status-listen") {
        CStatusListen listen;
        if (!kStatusPageServed) {
            strError = "--status-listen: this build serves no status page (the dialog and the tray icon show the status)";
            return -1;
        }
        if (ParseStatusListen(pszValue, listen) != 0) {
            strError = std::string("--status-listen takes ") + g_pszStatusListenForm + ", not" + strQuoted;
            return -1;
        }
        cmd.bHasStatusListen = true;
        cmd.strStatusListen = pszValue;
    } else {
        const bool bPerHost = strOption == "--max-sessions-per-host";
        if (ParseSessionCap(pszValue, bPerHost ? cmd.nMaxSessionsPerHost : cmd.nMaxSessions) != 0) {
            strError = strOption + " takes a number from 1 to " + std::to_string(kMaxSessionCap) + ", not" + strQuoted;
            return -1;
        }
    }
    return 0;
}

}  // namespace

int ParseCmdLine(int argc, const char* const* argv, CCmdLine& cmd, std::string& strError)
{
    static const char* const s_apszWithValue[] = {"--share",        "--config",
                                                  "--charset",      "--port",
                                                  "--listen",       "--allow",
                                                  "--max-sessions", "--max-sessions-per-host",
                                                  "--status-listen"};
    cmd = CCmdLine{};
    for (int i = 1; i < argc; ++i) {
        const char* pszArg = argv[i];
        bool bWithValue = false;
        for (const char* psz : s_apszWithValue)
            bWithValue = bWithValue || strcmp(pszArg, psz) == 0;
        if (bWithValue) {
            if (i + 1 >= argc) {
                strError = std::string(pszArg) + " needs a value";
                return -1;
            }
            if (TakeValue(pszArg, argv[++i], cmd, strError) != 0)
                return -1;
        } else if (strcmp(pszArg, "--headless") == 0) {
            cmd.bHeadless = true;
        } else if (strcmp(pszArg, "--stream") == 0) {
            cmd.bStream = true;
        } else if (strcmp(pszArg, "--quiet") == 0) {
            cmd.bQuiet = true;
        } else if (strcmp(pszArg, "--read-only") == 0) {
            cmd.bReadOnly = true;
        } else if (strcmp(pszArg, "--wide-links") == 0) {
            cmd.bWideLinks = true;
        } else if (strcmp(pszArg, "--status") == 0) {
            if (!kStatusPageServed) {
                strError = "--status: this build serves no status page to read (the dialog and the tray icon show "
                           "the status)";
                return -1;
            }
            cmd.bStatus = true;
        } else if (strcmp(pszArg, "--help") == 0 || strcmp(pszArg, "-h") == 0) {
            cmd.bHelp = true;
        } else if (strcmp(pszArg, "--version") == 0) {
            cmd.bVersion = true;
        } else {
            strError = std::string("unknown option '") + pszArg + "'";
            return -1;
        }
    }
    return 0;
}
