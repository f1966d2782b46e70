// A copy of one large file within the daemon's shared folder, as an STB asks for it and
// as a program on the PC would make it: by the daemon (FC_FILE_CPY_REQ, its status polled
// until the copy has ended, which is once the copy is on the disk), and by the floor,
// `cp --reflink=never` followed by `sync -f` of the copy, the least a program must do to
// have a whole copy on the disk.
#pragma once

#include <string>

#include "bench_daemon.h"

struct CopyRun {
    double dSeconds = 0;    // the request to the reply that says the copy is done
    double dServerCpu = 0;  // the daemon's user + system seconds over the same span
};

// Copies the STB path strFrom to strTo. False, with the reason on standard error, when
// the copy did not end with status 0.
bool DaemonCopy(const CBenchDaemon& daemon, const std::string& strFrom, const std::string& strTo, CopyRun& run);
// Runs `cp --reflink=never FROM TO` and then `sync -f TO`; dSeconds: both together.
bool FloorCopy(const std::string& strFrom, const std::string& strTo, double& dSeconds);
