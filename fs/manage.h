// Deleting files and folder trees, creating folders.
#pragma once

#include <string>

#include "platform/share.h"

// Deletes a folder and everything below it, as far as it can: what cannot be deleted (a
// read-only file, a file in use) stays, and with it the folders above it. A symbolic
// link is removed, never what it points to. The tree is walked from a list, not by
// recursion, however deep it is. Returns 0.
int DeleteDirTree(const plat::CShare& share, const std::string& strFolder);
