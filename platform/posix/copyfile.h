// The copy of regular files into one folder, each written whole into a temporary there
// (an unnamed file where the file system makes one, else a name listings leave out),
// flushed, and only then put in place of its destination: a crash leaves the old
// destination or the new one, and at most a temporary that the journal names. Private to
// platform/posix.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/file.h"
#include "platform/posix/beneath.h"
#include "platform/shellop.h"

namespace plat {

// What every file of one copy shares.
struct CCopyRun {
    CCopyJournal* pJournal = nullptr;  // where named temporaries are noted; may be null
    // The sources are held already, exclusively (a move): the copy takes no lock of its
    // own on them, which its own exclusive one would refuse.
    bool bSourcesHeld = false;
    CCopyProgress* pProgress = nullptr;  // told of the bytes written; may be null
};

// The files copied into one folder and not yet in place: flushed together (one flush of
// the volume for several), then renamed into place one after the other. The folder's
// own entries are the caller's to flush once the batch is settled. Used by one thread.
class CCopyBatch {
public:
    static constexpr size_t kMaxFiles = 32;
    static constexpr uint64_t kMaxBytes = 64u << 20;

    // dstDir: the folder (any descriptor of it), which must stay open as long as the
    // batch; strDstFolder: its local path beneath the share, for the journal.
    CCopyBatch(const CCopyRun& run, int dstDir, std::string strDstFolder);
    // Whatever was not settled is removed.
    ~CCopyBatch();
    CCopyBatch(const CCopyBatch&) = delete;
    CCopyBatch& operator=(const CCopyBatch&) = delete;

    // Copies the regular file pszSrc of srcDir (st: as it was looked at) into a temporary
    // that is to take the place of pszDst: a file there must be a regular file that is
    // neither read-only nor held by another opener, and it stays held until it is
    // replaced. 0, or -1 when the file cannot be copied (nothing of it is left).
    int Add(int srcDir, const char* pszSrc, const struct stat& st, const char* pszDst);
    bool Full() const { return m_pending.size() >= kMaxFiles || m_ullBytes >= kMaxBytes; }
    // Flushes the files added and puts each in its place. 0, or -1 when one could not be
    // flushed or put in place (it is removed; its destination stays as it was).
    int Settle();

private:
    struct CPending {
        CPlatFile out;        // the temporary, written whole and given its permission bits
        CFd oldDst;           // the file it replaces, held exclusively; none when new
        std::string strDst;   // its destination's name in the folder
        std::string strTemp;  // the temporary's name; empty while it has none
        uint64_t ullSize = 0;
    };
    // Writes the source's bytes into the temporary. 0 or -1.
    int CopyData(int fdIn, CPending& p);
    // Gives an unnamed temporary a name (a new hidden one, or the destination's when
    // nothing is there). 0 or -1.
    int Link(CPending& p, const std::string& strName);
    int Place(CPending& p);
    void Drop(CPending& p);
    std::string LocalPath(const std::string& strName) const { return m_strDstFolder + "/" + strName; }

    CCopyRun m_run;
    int m_dstDir;
    std::string m_strDstFolder;
    std::vector<std::unique_ptr<CPending>> m_pending;
    uint64_t m_ullBytes = 0;
};

}  // namespace plat
