// The per-user settings store: one INI file per application, read afresh on every
// call and written atomically, so a reader sees the old or the new value whole.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// The application name: the executable's file name without its extension.
std::string GetAppName();

// The settings file: the one SetProfilePath named, else the per-user one,
// ${XDG_CONFIG_HOME:-$HOME/.config}/Corvane/<app name>.ini.
std::string GetProfilePath();
// Uses the file as the settings file instead of the per-user one (--config); the empty
// string goes back to the per-user file. Set at start-up, before any session runs.
void SetProfilePath(const std::string& strFile);
// The settings file in use: GetProfilePath(), or the empty string where the settings are
// no file (the Windows registry, unless SetProfilePath named one).
std::string GetProfileFile();

// The value of key in section, or the default when the file, section or key is missing.
std::string ProfileGetString(const char* pszSection, const char* pszKey, const char* pszDefault);
// The values of n keys of one section from one reading of the file (each "" when
// missing), so that keys written together are read together.
void ProfileGetStrings(const char* pszSection, const char* const* ppszKeys, std::string* pValues, size_t n);
// Sets one key, keeping every other section, key and comment. 0, or -1 on failure. The
// folders on the way to the file (the per-user one or the one SetProfilePath named) are
// made when missing.
int ProfileWriteString(const char* pszSection, const char* pszKey, const std::string& strValue);
// Sets n keys of one section in one write: a reader sees all of them old or all new.
int ProfileWriteStrings(const char* pszSection, const char* const* ppszKeys, const std::string* pValues, size_t n);

// Sets one key of one section of an INI file, creating the file or the section when
// missing and keeping every other section, key and comment. Written atomically.
// 0, or -1 on failure.
int IniWriteString(const std::string& strFile, const char* pszSection, const char* pszKey,
                   const std::string& strValue);
// The same for n keys of the section at once.
int IniWriteStrings(const std::string& strFile, const char* pszSection, const char* const* ppszKeys,
                    const std::string* pValues, size_t n);

}  // namespace plat
