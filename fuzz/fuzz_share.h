// The temporary world of a fuzzing run: <root>/share is the shared folder, seeded with
// files and folders, names in and out of the STB's code page, a FIFO, and links that stay
// inside or lead out into <root>/cfg/outside; <root>/cfg holds the settings, with the code
// page CP932 stored beside the folder, and (cfg/state) the journal of unfinished uploads.
// Nothing may ever appear in <root> but these two (fuzz/run checks it afterwards), and
// nothing in <root>/cfg/outside may change unless the session follows links out (wide
// links; OutsideUntouched, after every other input).
// The share lies in memory (/dev/shm), so no file of the process may pass 2 MB, and a
// session's transfer buffers draw from a budget of 1 MB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/share_watch.h"
#include "net/budget.h"
#include "net/options.h"

class CSess;

class CFuzzShare {
public:
    // The root is $CORVANE_FUZZ_ROOT, or a new folder under /dev/shm.
    CFuzzShare();
    // Puts the shared folder, and what lies outside it, back to their seeded state: what
    // the last input made is removed, what it touched of the seeded entries made afresh.
    void Reset();
    // Sets the share's options record as the daemon's command line would, from an input's
    // first byte: bit 0 read-only, bit 1 wide links, bits 2-3 the code page (0: none;
    // 1: the stored CP932; 2: CP1252; 3: one names cannot pass through, UTF-16); the
    // share's buffer budget, and data streams without their pause. The session is given
    // the record (before its command loop begins).
    void Apply(uint8_t ucOptions, CSess& sess);
    // The record Apply sets, which every session and transfer context of a run reads.
    const CDaemonOptions& Options() const { return m_Options; }
    // False when anything below <root>/cfg/outside was changed, added or removed since
    // the last Reset.
    bool OutsideUntouched();
    const std::string& Share() const { return m_strShare; }

    // An entry of the world as built, its path relative to the root.
    enum class SeedKind { Folder, File, Fifo, Link };
    struct CSeed {
        std::string strPath;
        SeedKind eKind;
        std::string strData;  // a file's bytes; a link's target ("": the outside folder, absolute)
    };

private:
    // Makes the seeded entry at the path afresh, with everything seeded below it,
    // watching the folders among them.
    void Restore(const std::string& strPath);
    // The names seeded in the folder.
    std::vector<std::string> NamesIn(const std::string& strFolder) const;

    std::string m_strRoot;
    std::string m_strShare;
    std::string m_strOutside;
    CBufferBudget m_Budget;
    CDaemonOptions m_Options;
    CShareWatch m_Watch;
    std::vector<CSeed> m_Seeds;  // folders before what they hold
    bool m_bBuilt = false;
};
