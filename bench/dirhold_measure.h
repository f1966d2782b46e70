// The daemon's resident memory while many sessions each stay in a directory download of
// one deep tree: FC_DIR_DN_REQ answered, nothing more asked. Each session holds the
// tree's entry list; the lists are charged to the transfer budget with the buffers, and
// a session whose list would pass it is answered with an empty one.
#pragma once

#include <cstdint>
#include <string>

// The STB path of the tree in the daemon's shared folder.
constexpr const char* kDirHoldStbPath = "/deep";

struct DirHoldFigures {
    long nRssBeforeKiB = -1;    // VmRSS before the sessions open
    long nRssKiB = -1;          // VmRSS with every session in its directory download
    int nListed = 0;            // sessions answered with the whole tree
    int nEmpty = 0;             // sessions answered with an empty list
    uint32_t ulEntries = 0;     // entries of the whole tree's list
    uint64_t ullNameBytes = 0;  // the bytes of its names
};

// Starts the daemon at strBinary, makes a tree of nEntries entries (the folder itself, a
// chain of folders and the files at its end) whose file entries are about nPathBytes
// long, and opens nSessions connections that each send FC_DIR_DN_REQ for it and stay.
// False, with the reason on standard error, when the daemon does not start, the tree
// cannot be made, or a session is refused or answered wrongly.
bool MeasureDirHold(const std::string& strBinary, int nSessions, int nEntries, int nPathBytes,
                    DirHoldFigures& figures);
