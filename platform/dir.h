// Folder enumeration in the order the STB has always seen: "." and ".." first, then the
// names compared as unsigned bytes after folding a-z to A-Z, ties by the unfolded bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct FindEntry {
    std::string strName;
    bool bDir = false;    // a folder, or a link to one
    bool bLink = false;   // the entry itself is a symbolic link
    uint64_t ullSize = 0; // 0 for folders
};

// Lists the folder into entries, in the order above. 0, or -1 when it cannot be read.
// Without bSizes, ullSize stays 0 and only the entries whose type the folder itself does
// not tell are looked up (much faster on large folders).
int EnumDirectory(const std::string& strDir, std::vector<FindEntry>& entries, bool bSizes = true);

// Reads the folder once, without sorting or looking anything up: the number of its
// entries and the bytes of their names. 0, or -1 when it cannot be read.
int MeasureDirectory(const std::string& strDir, uint64_t& ullCount, uint64_t& ullNameBytes);

// The name order of the enumeration: true when a sorts before b.
bool FoldedNameLess(const std::string& a, const std::string& b);

// Wildcard match of a name against a pattern with '*' and '?', ASCII case folded
// ("*.stb" matches "FW.STB").
bool MatchPattern(const char* pszName, const char* pszPattern);

}  // namespace plat
