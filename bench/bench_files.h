// The files the transfer and folder benchmarks work on: a scratch folder, large files of
// known content, a flat folder of many entries and a tree of many files. Everything is
// created on the disk the daemon's shared folder lives on (/tmp) and removed afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A folder of our own under /tmp, removed with everything in it when this goes away.
class CScratchDir {
public:
    CScratchDir() = default;
    ~CScratchDir();
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;
    // 0, or -1 with the reason on standard error.
    int Create(const char* pszProgram);
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

// Reads or writes all n bytes at the offset, repeating short transfers. false on an error
// or an early end of the file.
bool ReadAt(int fd, uint64_t ullOffset, uint8_t* p, size_t n);
bool WriteAt(int fd, uint64_t ullOffset, const uint8_t* p, size_t n);

// True when the volume holding strDir has at least ullBytes free.
bool HasFreeBytes(const std::string& strDir, uint64_t ullBytes);

// Writes out what waits to be written on the volume that holds strDir (syncfs), so that a
// timed run does not pay for what an earlier one, or another program, left behind.
void SettleVolume(const std::string& strDir);

// Where the daemons of an upload measurement keep their folders: on the machine's disk,
// where flushes reach the device, or on tmpfs, where they cost nothing.
enum class Place { Disk, Tmpfs };
const char* PlaceName(Place ePlace);  // "disk", "tmpfs"
// True when strDir is a folder on a file system of that kind (tmpfs or not); false, with
// the reason on standard error, otherwise.
bool IsFolderOn(const std::string& strDir, Place ePlace, const char* pszProgram);

// Sum of the bytes, not reduced: what the benchmarks check a file's content by.
uint64_t ByteSum(const uint8_t* p, size_t n);

// Fills the buffer with pseudo-random bytes that depend on ullSeed.
void FillPattern(uint8_t* p, size_t n, uint64_t ullSeed);

// Writes a file of ullBytes pseudo-random bytes, flushed to the disk so that no
// write-back runs during the measurements. ullSum receives the sum of its bytes.
bool WritePatternFile(const std::string& strPath, uint64_t ullBytes, uint64_t& ullSum);

// Reads the whole file once (so that it is in the page cache) and sums its bytes.
bool ReadAndSum(const std::string& strPath, uint64_t& ullSize, uint64_t& ullSum);

// Creates nCount empty files in strDir (created if missing), with names of mixed case.
// names receives them in creation order.
bool MakeFlatFolder(const std::string& strDir, int nCount, std::vector<std::string>& names);

// A tree of nFolders folders under strRoot, nFilesPer small files in each.
struct TreeFacts {
    uint64_t ullFiles = 0;
    uint64_t ullFolders = 0;    // the root included
    uint64_t ullFileBytes = 0;  // sum of the files' sizes
    // Sum of the lengths of every entry's name relative to the root's parent folder, as
    // a directory download lists them ("tree/", "tree/F/", "tree/F/x.ts").
    uint64_t ullNameBytes = 0;
};
bool MakeTree(const std::string& strRoot, int nFolders, int nFilesPer, TreeFacts& facts);

// Removes a file or a tree; quiet when it is missing.
void RemovePath(const std::string& strPath);
