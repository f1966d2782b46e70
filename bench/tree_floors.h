// What the folder measurements are held against, measured in the same run: a plain
// listing of a folder, a plain walk of a tree and the removal of a tree, without the
// daemon.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// readdir of the whole folder, then "." and ".." first and the other names sorted as the
// daemon lists them (case folded). names receives that order; dSeconds the time of both.
bool PlainListing(const std::string& strDir, std::vector<std::string>& names, double& dSeconds);

struct WalkFacts {
    uint64_t ullFiles = 0;
    uint64_t ullFolders = 0;  // the root included
    uint64_t ullFileBytes = 0;
};
// nftw over the tree, every entry stat'ed (symbolic links not followed), counting the
// files and folders and summing the files' sizes.
bool PlainTreeWalk(const std::string& strRoot, WalkFacts& facts, double& dSeconds);

// `rm -rf` of the tree, run as its own process; dSeconds from its start to its end,
// dCpuSeconds the user and system time it used.
bool PlainRemoveTree(const std::string& strRoot, double& dSeconds, double& dCpuSeconds);
