// Paths as the STB gives them ('/'-separated; the daemon takes '\' as a separator too) and
// their local counterparts.
#pragma once

#include <string>

// The path without trailing separators; "/" when nothing else is left of a rooted path.
std::string TrimTrailingSeparators(const std::string& strPath);
// The last component of the path ("" for the shared folder itself).
std::string StbBaseName(const std::string& strPath);
// True when the path names the shared folder itself: nothing but separators and ".".
bool IsSharedRoot(const std::string& strPath);
// Splits a path that is not the shared root into its parent ("" when it has none) and its
// last component.
void SplitStbPath(const std::string& strPath, std::string& strParent, std::string& strLeaf);
// A name the daemon sent, as a relative local path: empty and "." components dropped, the
// separators made '/'. False when a component is ".." (it would leave the target folder).
bool SafeRelativePath(const std::string& strName, std::string& strRelative);
