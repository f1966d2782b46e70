// What changed in a seeded folder tree since it was built, seen through inotify: an input
// that only read costs one read of the watch descriptor; one that changed the tree is
// undone entry by entry (the entries it made removed, the seeded ones it touched made
// afresh) instead of by rebuilding the whole tree.
#pragma once

#include <string>
#include <vector>

class CShareWatch {
public:
    CShareWatch();
    ~CShareWatch();
    CShareWatch(const CShareWatch&) = delete;
    CShareWatch& operator=(const CShareWatch&) = delete;

    // Watches the folder at strRoot + "/" + strFolder, whose entries as built are the
    // names. Watching a folder again replaces what was known of it. False when the folder
    // cannot be watched.
    bool Watch(const std::string& strRoot, const std::string& strFolder, std::vector<std::string> names);
    // Forgets the folders at and below strFolder, once they have been removed (their
    // watches went with them).
    void ForgetTree(const std::string& strFolder);

    // Reads what happened since the last call, and adds it to what is known.
    void Collect();
    // Since the last Forget: the seeded entries changed, removed or renamed, among them
    // watched folders themselves; the entries made that were not there when built (some
    // perhaps gone again); whether events were lost (anything may have changed). Paths
    // relative to the root.
    const std::vector<std::string>& Touched() const { return m_arrTouched; }
    const std::vector<std::string>& NewEntries() const { return m_arrNew; }
    bool Overflowed() const { return m_bOverflowed; }
    void Forget();

private:
    struct CFolder {
        int nWatch;
        std::string strFolder;           // relative to the root
        std::vector<std::string> names;  // the entries as built, sorted
    };

    int m_nNotify = -1;
    std::vector<CFolder> m_arrFolders;
    std::vector<std::string> m_arrTouched;
    std::vector<std::string> m_arrNew;
    bool m_bOverflowed = false;
};
