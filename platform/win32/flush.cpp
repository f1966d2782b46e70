#include "platform/flush.h"

#include "platform/common/flush_note.h"
#include "platform/file.h"

namespace plat {

// NTFS writes a folder's entries to its log with the metadata of the file they name, and
// FlushFileBuffers of that file commits the log: a folder has nothing of its own to flush.
int FlushParentFolder(const CShare&, const std::string&) { return 0; }

int FlushFolder(const std::string&) { return 0; }

// Flushing a whole volume takes a handle of the volume, which only an administrator may
// open: each file is flushed as it is added instead, and nothing is left for Flush.
int CFlushSet::Add(const CShare&, const std::string&, const CPlatFile& file) { return file.Flush(); }

int CFlushSet::Flush() { return 0; }

void CFlushSet::Drop() { m_Volumes.clear(); }

}  // namespace plat
