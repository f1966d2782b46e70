// Folder listings: records of a flag byte (1 for a folder), the name and a 0 byte, back
// to back in enumeration order.
#pragma once

#include <cstdint>
#include <string>

#include <vector>

#include "platform/dir.h"

// The entries the measuring pass found, kept for the filling pass.
struct CDirSnapshot {
    std::vector<plat::FindEntry> entries;
    uint64_t ullSize = 0;
};

// Enumerates the folder and returns the size of its listing. With a buffer, also writes
// each record that still fits into its capacity. 0 when nothing is found (a missing
// folder included).
//
// With a snapshot, the measuring pass (no buffer) keeps the sorted entries in it, and
// the filling pass only reads the folder again to see whether it changed in between:
// when the size still matches, the records come from the snapshot, so a large folder
// is sorted once.
uint64_t BuildDirList(uint8_t* pBuffer, uint64_t ullCapacity, const std::string& strFolder,
                      CDirSnapshot* pSnapshot = nullptr);
