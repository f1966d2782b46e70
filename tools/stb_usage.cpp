#include "tools/stb_usage.h"

#include <cstdio>

#include "tools/stb_report.h"

namespace {

const char kSynopsis[] =
    "usage: corvane-stb [--host H] [--port P] [--small-frames] [--quiet] [--timeout S] COMMAND ...\n"
    "\n"
    "commands:\n"
    "  ver                            print the daemon's version\n"
    "  ls [-a] [PATH]                 list a folder; folders end with '/', -a adds . and ..\n"
    "  stat PATH                      print the size of a file in bytes\n"
    "  df [--unit N]                  print the size and the free space of the shared volume\n"
    "  get PATH [LOCAL] [--offset N] [--length M]\n"
    "                                 download a file (LOCAL '-': to standard output)\n"
    "  put LOCAL PATH [--big]         upload a file (PATH ending in '/': LOCAL's name in it)\n"
    "  cp SRC DST                     copy a file or folder on the daemon's side\n"
    "  mv SRC DST                     move a file or folder on the daemon's side\n"
    "  rm PATH                        delete a file\n"
    "  mkdir PATH                     make a folder\n"
    "  rmdir PATH                     delete a folder and everything in it\n"
    "  getdir PATH LOCALDIR [--move]  download a folder tree into LOCALDIR\n"
    "  putdir LOCALDIR PATH           upload a folder tree as the folder PATH\n"
    "  fwcheck MODEL VERSION          ask for a firmware file newer than VERSION for MODEL\n";

const char kDetails[] =
    "\n"
    "PATH is a path in the daemon's shared folder, '/'-separated as an STB gives it.\n"
    "\n"
    "options:\n"
    "  --host H        the daemon's name or address (default 127.0.0.1)\n"
    "  --port P        the daemon's port (default 2008)\n"
    "  --small-frames  ask for data frames of 4,096 bytes instead of 32,768\n"
    "  --quiet         no progress bar (it is drawn only when standard error is a terminal)\n"
    "  --timeout S     give up when the daemon stays silent for S seconds (default 15)\n"
    "  -h, --help      this text\n"
    "  --version       the client's version\n"
    "\n"
    "get:\n"
    "  LOCAL defaults to the last part of PATH; an existing folder receives the file under\n"
    "  that name. The bytes go to LOCAL.part, which is renamed to LOCAL once every byte has\n"
    "  arrived. After a failure LOCAL.part keeps the bytes that arrived, in order.\n"
    "  --offset N  resume a partial download: the first N bytes of LOCAL.part (or, when there\n"
    "              is none, of LOCAL itself) are kept, anything after them is dropped, and the\n"
    "              bytes from N on are fetched and appended; LOCAL.part is then renamed to\n"
    "              LOCAL. The partial file must hold at least N bytes. With LOCAL '-' the bytes\n"
    "              from N on go to standard output.\n"
    "  --length M  fetch at most M bytes (from N, or from the start).\n"
    "\n"
    "put:\n"
    "  Files of 4 GiB and more are sent with the 64-bit requests; --big uses them for any\n"
    "  size. The daemon's size of the file is checked afterwards.\n"
    "\n"
    "getdir:\n"
    "  The folder arrives under its own name in LOCALDIR (created when missing), files by way\n"
    "  of NAME.part. --move deletes the tree on the daemon's side once every entry has\n"
    "  arrived whole; after any failure nothing is deleted. Files of 4 GiB and more cannot\n"
    "  travel in a folder download.\n"
    "\n"
    "rmdir:\n"
    "  Fails when anything of the folder stays (a read-only file, a file in use); a folder\n"
    "  that is not there is nothing to do.\n"
    "\n"
    "putdir:\n"
    "  The tree of LOCALDIR becomes the folder PATH (made when missing; its parent must\n"
    "  exist; files already there are overwritten). Files must be smaller than 4 GiB.\n"
    "\n"
    "df:\n"
    "  --unit N  count in units of N bytes (default: the volume's cluster size, or a larger\n"
    "            power of two when the counts would not fit in 32 bits).\n"
    "\n"
    "exit status:\n"
    "  0  done\n"
    "  1  the daemon reported a failure, or a local file could not be read or written\n"
    "  2  wrong usage\n"
    "  3  no connection, a time-out, or a frame the client cannot accept\n";

}  // namespace

const char* HelpText()
{
    static const std::string strText = std::string(kSynopsis) + kDetails;
    return strText.c_str();
}

int ReportUsage(const std::string& strMessage)
{
    fprintf(stderr, "corvane-stb: %s\n%sTry 'corvane-stb --help' for more.\n", strMessage.c_str(), kSynopsis);
    return kExitUsage;
}
