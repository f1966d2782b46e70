// Where the paths of one request may lead. Every file-system call of this layer that
// takes a local path from an STB takes the share it was mapped onto, and resolves the
// path beneath the shared folder by the kernel, not by the text of the path.
#pragma once

#include <string>

namespace plat {

struct CShare {
    // The shared folder as the mapping read it; every local path handed in with this
    // share begins with it (a path that does not is refused).
    std::string strRoot;
    // Links may lead anywhere (the user linked folders in on purpose); without it a link
    // that leads out of the shared folder, or has an absolute target, is refused.
    bool bWideLinks = false;
};

}  // namespace plat
