// The commands of the client. Each one takes the parsed options, talks to the daemon,
// prints its result on standard output and its messages on standard error, and returns
// the exit status (see stb_report.h).
#pragma once

#include "tools/stb_args.h"

int CmdVer(const CStbOptions& opt);
int CmdLs(const CStbOptions& opt);
int CmdStat(const CStbOptions& opt);
int CmdDf(const CStbOptions& opt);
int CmdFwcheck(const CStbOptions& opt);

int CmdGet(const CStbOptions& opt);
int CmdPut(const CStbOptions& opt);

int CmdCp(const CStbOptions& opt);
int CmdMv(const CStbOptions& opt);
int CmdRm(const CStbOptions& opt);
int CmdMkdir(const CStbOptions& opt);
int CmdRmdir(const CStbOptions& opt);

int CmdGetdir(const CStbOptions& opt);
int CmdPutdir(const CStbOptions& opt);
