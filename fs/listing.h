// Folder listings: records of a flag byte (1 for a folder), the name and a 0 byte, back
// to back in enumeration order.
#pragma once

#include <cstdint>
#include <string>

// Enumerates the folder and returns the size of its listing. With a buffer, also writes
// each record that still fits into its capacity. 0 when nothing is found (a missing
// folder included).
uint64_t BuildDirList(uint8_t* pBuffer, uint64_t ullCapacity, const std::string& strFolder);
