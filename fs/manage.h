// Deleting files and folder trees, creating folders.
#pragma once

#include <string>

// Deletes a folder and everything below it, as far as it can: what cannot be deleted (a
// read-only file, a file in use) stays, and with it the folders above it. A symbolic
// link is removed, never what it points to. Returns 0.
int DeleteDirTree(const std::string& strFolder);
