// The temporary world of a fuzzing run: <root>/share is the shared folder, seeded
// with a few files, folders, a large sparse file and a ".stb" file; <root>/cfg holds
// the settings. Nothing else may ever appear in <root>: fuzz/run checks it afterwards.
#pragma once

#include <string>

class CFuzzShare {
public:
    // The root is $CORVANE_FUZZ_ROOT, or a new folder under /tmp.
    CFuzzShare();
    // Puts the shared folder back to its seeded state.
    void Reset();
    const std::string& Share() const { return m_strShare; }

private:
    std::string m_strRoot;
    std::string m_strShare;
};
