// Volume space in the STB's units.
#pragma once

#include <cstdint>
#include <string>

// The free and total space of the folder's volume counted in ulUnit bytes (0: the
// cluster size, which is then written back into ulUnit). Counts keep their low 32 bits.
// 0, or -1 when the volume cannot be queried (nothing is written then).
int GetDiskUnits(const std::string& strFolder, uint32_t& ulUnit, uint32_t* pulFree, uint32_t* pulTotal);
