// Walks that change a folder tree: deleting a whole tree, and deleting what a directory
// download listed once the STB has moved it. Each folder of a walk is reached from the
// folder above it with no link followed: a folder swapped for a link while a walk runs
// is never entered, and nothing is deleted through a link.
#pragma once

#include <memory>
#include <string>

#include "platform/share.h"

namespace plat {

// Deletes a folder and everything below it, as far as it can: files go by the rules of
// DeleteFile (a read-only file, a file in use, a FIFO or device stays), and a folder that
// still holds something stays with everything above it. A link named as the folder is
// removed itself; a link inside the tree is removed, never what it leads to. The tree is
// walked from a list, not by recursion, however deep it is. 0 (also when nothing is
// there), or -1 when the path names the shared folder itself: nothing is deleted then.
int DeleteTree(const CShare& share, const std::string& strPath);

// What RemoveListedFolder did with a folder.
enum class FolderRemoval {
    Removed,
    LeftInPlace,  // something is still inside, or it is the shared folder itself
    Failed,       // missing, not a folder (a link to one included), or the system refused
};

// The entries of a directory download's list, named relative to one base folder
// ("T/A/f.txt", "T/A/"). The base folder is resolved beneath the share as any path is
// (through the links the share lets a path follow); nothing below it is reached through
// a link: an entry whose way passes a link is not deleted. Used by one thread.
class CListedTree {
public:
    CListedTree(const CShare& share, const std::string& strBase);
    ~CListedTree();
    CListedTree(const CListedTree&) = delete;
    CListedTree& operator=(const CListedTree&) = delete;

    // Deletes one listed file by the rules of DeleteFile. 0, or the system's error code
    // negated.
    int DeleteFile(const std::string& strRel);
    // Removes one listed folder when it holds nothing and is not the shared folder.
    FolderRemoval RemoveFolder(const std::string& strRel);

private:
    struct CImpl;
    std::unique_ptr<CImpl> m_pImpl;
};

// Test hook: the walks that change a tree call it, when it is set, after they have read
// the names of a folder and before they act on any of them. nDepth is 0 for the folder
// the walk starts at, 1 for a folder in it, and so on. Set it only while no walk runs.
enum class TreeWalk {
    Delete,  // DeleteTree
    Remove,  // a move's removal of what it has copied
    Copy,    // a copy's walk, also the first half of a move that copies (where the
             // layer walks the copy itself: on Windows the shell copies)
};
using TreeWalkHook = void (*)(TreeWalk eWalk, int nDepth);
void SetTreeWalkHook(TreeWalkHook pfnHook);

}  // namespace plat
