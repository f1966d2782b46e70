// Where the paths of one request may lead. Every file-system call of this layer that
// takes a local path from an STB takes the share it was mapped onto, and resolves the
// path beneath the shared folder by what each name on the way is, not by the text of the
// path.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace plat {

struct CShare {
    // The shared folder as the mapping read it; every local path handed in with this
    // share begins with it (a path that does not is refused).
    std::string strRoot;
    // Links may lead anywhere (the user linked folders in on purpose); without it a link
    // that leads out of the shared folder, or has an absolute target, is refused.
    bool bWideLinks = false;
    // The daemon's own files (absolute paths: its settings file, its lock), which no
    // request made with this share may open, replace, delete or move, whatever name
    // reaches them (platform/ownfiles.h). Never changed once set, so that every copy of
    // the share (a copy or move worker keeps one) may read it; null when there are none.
    std::shared_ptr<const std::vector<std::string>> pOwnFiles = nullptr;
};

// How this process resolves paths beneath the shared folder, for the daemon's start-up
// line "paths resolved %s": on Linux "by openat2", or "one name at a time (no openat2)"
// where the kernel has no openat2 or a seccomp filter refuses it. Decided once, on the
// first call (any thread).
const char* PathResolutionName();

}  // namespace plat
