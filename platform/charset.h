// Conversion of names between one code page and UTF-8, the form local names take.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace plat {

// Both directions of one code page. An object keeps conversion state between calls: it
// belongs to one thread at a time (one per session), never shared without a lock.
class CCharsetConv {
public:
    CCharsetConv();
    ~CCharsetConv();
    CCharsetConv(const CCharsetConv&) = delete;
    CCharsetConv& operator=(const CCharsetConv&) = delete;

    // Opens the conversions for the code page named (CP1252, CP949, CP932, ISO-8859-1 ...;
    // the bare name, no options). What was open before is closed. 0, or -1 when the name
    // is not one the system knows, or (where the system tells them by number) names a
    // page with shift states (nothing is open then).
    int Open(const std::string& strCodePage);
    void Close();
    bool IsOpen() const;

    // Converts the whole input, from the code page to UTF-8 (ToLocal) or back
    // (ToCodePage), into strOut. 0, or -1 when the input holds a sequence that is not
    // valid in its encoding or ends inside a character, when a character has no exact
    // form in the other encoding, or when the result would be longer than nMaxOut bytes;
    // strOut is then empty.
    int ToLocal(std::string_view in, std::string& strOut, size_t nMaxOut);
    int ToCodePage(std::string_view in, std::string& strOut, size_t nMaxOut);

private:
    struct CImpl;
    std::unique_ptr<CImpl> m_pImpl;
};

}  // namespace plat
