// The daemon's own files (its settings file, its lock, and everything in its journal's
// folder, which the list names with a '/' at its end) as the requests of a share meet
// them. No STB may open, create, replace, delete or move them, nor remove or move the
// folders on the way to them that lie in the shared folder. Each is known by its identity
// on its volume as well as by its path, so that a link or a hard link to it, or its name
// made through a link to its folder, is known too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/share.h"

namespace plat {

// A file's identity: its device and inode; on Windows its volume's serial number and its
// file index.
struct CFileId {
    uint64_t ullVolume = 0;
    uint64_t ullIndex = 0;
    bool operator==(const CFileId&) const = default;
};

// True when the two names, in one folder, would name one entry. ASCII letters compare
// without their case (a shared folder on a FAT or exFAT volume folds it; where names do
// not fold, the other spelling of an own file's name is refused too, which costs nothing);
// on Windows names compare as the file system compares them.
bool SameEntryName(std::string_view a, std::string_view b);

// Where strPath lies below strFolder, both taken where they really are (every link and
// the folders of either that exist resolved; names below the last existing folder as
// written): the names below the folder joined with '/', empty for the folder itself.
// False when the path does not lie in the folder, or the folder cannot be found.
bool PositionBelow(const std::string& strFolder, const std::string& strPath, std::string& strRel);

// The share's own files, each looked up when a check first needs it, and then once: a
// walk may ask for every entry. For one request or one operation on one thread; the share
// must outlive it. Making one looks nothing up.
class COwnFiles {
public:
    explicit COwnFiles(const CShare& share);
    explicit COwnFiles(CShare&&) = delete;  // it keeps a reference
    COwnFiles(const COwnFiles&) = delete;
    COwnFiles& operator=(const COwnFiles&) = delete;

    // No own files: every check is false.
    bool Empty() const { return m_items.empty(); }
    // True when an own file has this last name. A path whose last name no own file has
    // reaches one only through a link or a hard link, which the identity tells.
    bool HasName(std::string_view name) const;
    // True when the identity is an own file's.
    bool IsFile(const CFileId& id) const;
    // True when an own file has this index on some volume: a quick test for the entries
    // of a folder, whose index the folder tells, before IsFile.
    bool MayBeFile(uint64_t ullIndex) const;
    // True when the name, in the folder of that identity, is an own file's place: the file
    // itself, or where it would be made.
    bool IsPlace(const CFileId& folder, std::string_view name) const;
    // True when the identity is a folder on the way to an own file that lies in the
    // shared folder (the shared folder itself included), as its path reads and, where the
    // file is a link, to where it leads.
    bool IsFolderOnTheWay(const CFileId& id) const;

    // True when the local path, resolved beneath the share, leads to an own file, names an
    // own file's place (its folder and last name) or, with bFolders, leads to a folder on
    // the way to one.
    bool Reaches(const std::string& strPath, bool bFolders) const;
    // True when making the local path (a file or a folder) would make an own file's place.
    bool IsPlaceOf(const std::string& strPath) const;

private:
    struct CItem {
        std::string_view path;     // in the share's list, which outlives this; no '/' at its end
        std::string_view name;     // its last name
        bool bFolder = false;      // a folder of the daemon's own: everything in it is too
        mutable bool bLooked = false, bFound = false;
        mutable CFileId id;
        mutable bool bFolderLooked = false, bFolderFound = false;
        mutable CFileId folder;
    };
    void LookUpFile(const CItem& item) const;
    void LookUpFolder(const CItem& item) const;

    const CShare& m_share;
    std::vector<CItem> m_items;
    mutable bool m_bWayLooked = false;
    mutable std::vector<CFileId> m_way;
};

}  // namespace plat
