// Walking folder trees by descriptors: each folder opened from its parent's descriptor
// with no link followed, names acted on with the *at calls of the folder that holds
// them. Private to platform/posix.
#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

#include "platform/posix/ownid.h"
#include "platform/share.h"
#include "platform/tree.h"

namespace plat {

// The identity of the shared folder itself. False when it cannot be looked at.
bool ShareRootId(const CShare& share, CFileId& id);

// A name read from a folder, with the type the folder gave it (DT_UNKNOWN when it gave none).
struct CDirName {
    std::string strName;
    unsigned char ucType;
};
// The names of the folder open at dfd (a descriptor opened for reading), "." and ".."
// left out. False when it cannot be read.
bool ReadNames(int dfd, std::vector<CDirName>& names);

// Deletes one name of the open folder dfd by the rules of DeleteFile (a link itself; a
// regular file unless it is read-only or another opener holds it; never a folder, FIFO,
// socket or device). 0, or -errno.
int DeleteFileAt(int dfd, const char* pszName);

// The folders from a base folder down to the one a walk is in, each opened from the one
// above it with no link followed. At most a few dozen stay open, however deep the walk
// goes: a folder whose descriptor was closed is opened again from the one below it
// through "..", and must be the folder the walk came down through.
class CDirChain {
public:
    // Starts at the base folder, whose descriptor (any kind, O_PATH too) it takes over.
    explicit CDirChain(int baseFd);
    ~CDirChain();
    CDirChain(const CDirChain&) = delete;
    CDirChain& operator=(const CDirChain&) = delete;

    // Enters the folder of that name in the deepest folder. 0; -ELOOP or -ENOTDIR when the
    // name is not a folder (a link to one included), another -errno when it cannot be
    // opened.
    int Enter(const std::string& strName);
    // Leaves the deepest folder (never the base). The descriptor of the folder above it,
    // which is the deepest now; -1 when that folder is not the one the walk came down
    // through (moved away meanwhile): the walk must stop.
    int Leave();

    // The deepest folder, always open (a readable descriptor once a folder was entered).
    int Fd() const { return m_levels.back().fd; }
    // The deepest folder's name in the folder above it, and its identity.
    const std::string& Name() const { return m_levels.back().strName; }
    CFileId Id() const { return m_levels.back().id; }
    // Folders entered below the base.
    int Depth() const { return static_cast<int>(m_levels.size()) - 1; }

private:
    struct CLevel {
        int fd = -1;  // -1 while closed
        CFileId id;
        std::string strName;
    };
    std::vector<CLevel> m_levels;  // [0] is the base, never closed
    size_t m_nFirstOpen = 1;       // the levels from here to the deepest are open
};

// Removes the folder the chain has just entered (its top) and everything below it, and
// leaves the chain at the folder above. With bKeepRules each file goes by the rules of
// DeleteFileAt; without, every name goes. A folder that is the shared folder (rootId) is
// never entered. eWalk names the walk to the test hook. 0 when everything is gone.
int RemoveEnteredTree(CDirChain& chain, TreeWalk eWalk, bool bKeepRules, const CFileId& rootId);

}  // namespace plat
