// Bringing what was written to the disk: folders whose entries changed, and the files of
// one session written back together, one call for each volume instead of one for each
// file. A file of its own is flushed with CPlatFile::Flush (platform/file.h). Every flush
// that reaches the system is counted, and tests may watch each one as it happens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/share.h"

namespace plat {

class CPlatFile;

// Brings the entries of the folder that holds the path's last component to the disk (a
// name created there). The folder is found beneath the share as every path is. 0 or -1.
int FlushParentFolder(const CShare& share, const std::string& strPath);
// The same for a folder the daemon chose itself (its state folder), given whole.
int FlushFolder(const std::string& strFolder);

// Files written by one session whose data and names must reach the disk, flushed
// together: on Linux one syncfs for each volume they lie on, however many files there
// are. Windows has no such call for a user: there each file is flushed as it is added.
// Used by one thread.
class CFlushSet {
public:
    CFlushSet() = default;
    ~CFlushSet() { Drop(); }
    CFlushSet(const CFlushSet&) = delete;
    CFlushSet& operator=(const CFlushSet&) = delete;

    // Adds the file, still open (the caller may close it afterwards): its data and its
    // name reach the disk by the next Flush. 0, or -1 when it cannot be added (or, on
    // Windows, flushed): the caller then flushes it itself.
    int Add(const CShare& share, const std::string& strPath, const CPlatFile& file);
    // Flushes everything added since the last Flush and empties the set. 0, or -1 when the
    // system reported that some of it may not have been written.
    int Flush();
    bool Empty() const { return m_Volumes.empty(); }

private:
    void Drop();

    struct CVolume {
        uint64_t ullVolume;
        intptr_t nHandle;  // a descriptor of a folder on the volume; unused on Windows
    };
    std::vector<CVolume> m_Volumes;
};

// What the counts and the observer tell apart.
enum class FlushKind {
    File,    // one file's data: CPlatFile::Flush and the daemon's own files
    Folder,  // one folder's entries
    Volume,  // everything written to one volume (CFlushSet)
};

// How many flushes of each kind this process has made since it started.
struct FlushCounts {
    uint64_t ullFiles = 0;
    uint64_t ullFolders = 0;
    uint64_t ullVolumes = 0;
};
FlushCounts GetFlushCounts();

// For tests: pfn(kind, pContext) runs on the flushing thread right before each flush
// reaches the system (null: none). Set while no flush can run.
using FlushObserver = void (*)(FlushKind eKind, void* pContext);
void SetFlushObserver(FlushObserver pfn, void* pContext);

}  // namespace plat
