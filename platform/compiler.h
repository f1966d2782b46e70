// Annotations that some compilers understand and others do without: each macro is empty
// where the compiler lacks the feature, so a declaration reads the same everywhere.
#pragma once

// Marks a printf-style function: g++ and clang check every call's arguments against its
// format. nFormat is the format's parameter, nFirstArg the first one it formats
// (counted from 1).
#if defined(__GNUC__)
#define PLAT_PRINTF_FORMAT(nFormat, nFirstArg) __attribute__((format(printf, nFormat, nFirstArg)))
#else
#define PLAT_PRINTF_FORMAT(nFormat, nFirstArg)
#endif
