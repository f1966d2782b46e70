// Resolving a path beneath a folder one name at a time, for kernels without openat2
// (before Linux 5.6) and for processes whose seccomp filter refuses it. Private to
// platform/posix; platform/posix/beneath.cpp decides which way a process resolves.
#pragma once

#include <string>
#include <sys/types.h>

namespace plat {

// Opens strRel (a path relative to the folder rootfd) with open(2) flags nFlags, with the
// answers that openat2 gives with RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS on rootfd:
// every folder on the way is opened from the one before it without following a link; a
// link is read and its target walked the same way in its place (an absolute target, or
// ".." above rootfd, answers -EXDEV; more than 40 links, or a /proc link that stands for
// an open object, -ELOOP); the last name is opened with nFlags themselves (a link there
// is followed unless O_NOFOLLOW, or O_CREAT | O_EXCL, is given, as the kernel follows
// it). Every ".." is checked to lead back to the folder the walk came down from; when a
// concurrent rename moved one, the walk starts again, and after a few tries answers
// -EAGAIN. A descriptor, or -errno. Callable from any thread.
int OpenByNames(int rootfd, const std::string& strRel, int nFlags, mode_t mode);

}  // namespace plat
