// File-system look-ups and set-ups the suites share: what stands at a path, a whole tree
// as text, byte ranges, sparse files, links and the volume's free bytes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// True when anything (a link included) stands at the path.
bool Exists(const std::string& path);
// True when the path (followed through links) is a folder.
bool IsDir(const std::string& path);
// True when the path itself is a symbolic link (on Windows, any reparse point).
bool IsLink(const std::string& path);
// The length of the file, -1 when there is none.
int64_t LengthOf(const std::string& path);

// Every entry below root by its path relative to root: a file's content, "<dir>" for a
// folder, "-> target" for a link (never followed), "<special>" for anything else (a FIFO
// is never opened). Empty when root cannot be read.
std::map<std::string, std::string> Tree(const std::string& root);

// n bytes of the file from off on; fewer at its end, none when it cannot be read.
std::string ReadRange(const std::string& path, uint64_t off, size_t n);

// Creates (or replaces) a file of the length whose only data are the chunks at their
// offsets; the rest is a hole. A failure is a test failure.
void MakeSparse(const std::string& path, uint64_t size,
                const std::vector<std::pair<uint64_t, std::string>>& chunks = {});

// Makes a symbolic link at link that leads to target (a folder's when bDir), the target
// kept as written, relative or absolute. Empty, or why no link could be made: Windows lets
// only a privileged user (or developer mode) make links, and Wine makes none itself, so
// under Wine the link is made on the host system beneath it, as a local user there would
// leave it.
std::string MakeLink(const std::string& target, const std::string& link, bool bDir);

// The free bytes of the volume holding the path, counted as the daemon counts them
// (f_bfree × f_frsize: all free bytes, not the user's share).
uint64_t FreeBytes(const std::string& path);
