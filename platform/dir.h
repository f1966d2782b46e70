// Folder enumeration in the order the STB has always seen: "." and ".." first, then the
// names compared as unsigned bytes after folding a-z to A-Z, ties by the unfolded bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/share.h"

namespace plat {

// The longest path, in bytes, the system can open: nothing lies below a folder whose
// path is this long or longer.
extern const size_t kMaxPathBytes;

struct FindEntry {
    std::string strName;
    bool bDir = false;    // a folder, or a link to one
    bool bLink = false;   // the entry itself is a symbolic link
    uint64_t ullSize = 0; // 0 for folders
    bool bOwn = false;    // one of the daemon's own files (platform/ownfiles.h), by name or identity
};

// Lists the folder (resolved beneath the share) into entries, in the order above. 0, or
// -1 when it cannot be read. Without bSizes, ullSize stays 0 and only the entries whose
// type the folder itself does not tell are looked up (much faster on large folders). A
// link is typed by where it leads only when the share lets it lead there.
int EnumDirectory(const CShare& share, const std::string& strDir, std::vector<FindEntry>& entries,
                  bool bSizes = true);

// Hands each entry of the folder to fnEntry as the folder yields it ("." and ".."
// included, unsorted), typed as EnumDirectory types them; the entry may be taken over.
// For walks that must not hold a large folder twice. 0, or -1 when it cannot be read.
int ReadDirectory(const CShare& share, const std::string& strDir, bool bSizes,
                  const std::function<void(FindEntry& entry)>& fnEntry);

// Reads the folder once, without sorting or looking anything up: the number of its
// entries and the bytes of their names. 0, or -1 when it cannot be read.
int MeasureDirectory(const CShare& share, const std::string& strDir, uint64_t& ullCount, uint64_t& ullNameBytes);

// The name order of the enumeration: true when a sorts before b.
bool FoldedNameLess(std::string_view a, std::string_view b);

// Wildcard match of a name against a pattern with '*' and '?', ASCII case folded
// ("*.stb" matches "FW.STB").
bool MatchPattern(const char* pszName, const char* pszPattern);

}  // namespace plat
