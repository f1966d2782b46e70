// The per-user settings store: one INI file per application, read afresh on every
// call and written atomically, so a reader sees the old or the new value whole.
#pragma once

#include <string>

namespace plat {

// The application name: the executable's file name without its extension.
std::string GetAppName();

// The settings file, ${XDG_CONFIG_HOME:-$HOME/.config}/Corvane/<app name>.ini.
std::string GetProfilePath();

// The value of key in section, or the default when the file, section or key is missing.
std::string ProfileGetString(const char* pszSection, const char* pszKey, const char* pszDefault);
// Sets one key, keeping every other section, key and comment. 0, or -1 on failure.
int ProfileWriteString(const char* pszSection, const char* pszKey, const std::string& strValue);

// Sets one key of one section of an INI file, creating the file or the section when
// missing and keeping every other section, key and comment. Written atomically.
// 0, or -1 on failure.
int IniWriteString(const std::string& strFile, const char* pszSection, const char* pszKey,
                   const std::string& strValue);

}  // namespace plat
