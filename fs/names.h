// Names in the STB's code page. Without one, names pass as the bytes they are. With one,
// every STB path is decoded into the local form (UTF-8) before it is mapped, every name
// that goes to the STB is encoded into the code page, and a local name the code page
// cannot hold is not shown to the STB at all: it could never name it back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/charset.h"

// One session's conversions (used by its thread only).
class CStbNames {
public:
    // Takes the code page for the paths and names that follow; the empty string: names
    // pass unchanged. Reopens only when the name differs from the one in use. 0, or -1
    // when the code page is not one names can pass through (see CheckStbCodePage): paths
    // are then refused until a good one is selected.
    int Select(const std::string& strCodePage);
    // True when a code page is in use.
    bool Converts() const { return !m_strCodePage.empty(); }

    // The STB path (the bytes up to the first 0) in the local form. 0, or -1 when it does
    // not decode or its local form is longer than any path the system can open.
    int ToLocal(const char* pszStbPath, std::string& strLocal);
    // A local name or relative path as the STB is to see it. 0, or -1 when the code page
    // cannot hold it, its bytes in the code page do not decode back to exactly it (they
    // would name another file), it is not valid UTF-8, or it would not fit in one frame.
    int ToStb(std::string_view local, std::string& strStb);
    // True when the STB can be shown the local name (or relative path); otherwise prints
    // "name not shown: <folder><local>" and gives false. Always true without a code page.
    bool Shows(std::string_view local, std::string_view folder) { return Shows(local, folder, m_strScratch); }
    // The same, with the name as the STB is to see it in strStb.
    bool Shows(std::string_view local, std::string_view folder, std::string& strStb);

private:
    std::string m_strCodePage;  // the code page selected last (empty: none)
    bool m_bBroken = false;
    plat::CCharsetConv m_Conv;
    std::string m_strScratch;   // Shows' result, kept to spare an allocation per name
    std::string m_strRoundTrip; // ToStb's result decoded again, kept for the same reason
};

// 0 when the code page can carry the STB's names: the system knows it, its ASCII bytes
// are ASCII both ways, so that '/', '\', '.' and the terminating 0 keep their meaning
// (UTF-16, UTF-7 and the like do not), and it has no shift states: every character it
// holds is encoded the same whatever stands before or after it (the ISO-2022 pages are
// refused by name as well). -1 otherwise.
int CheckStbCodePage(const std::string& strCodePage);
