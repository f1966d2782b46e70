// The shared folder: its only home is the per-user settings store, read afresh on
// every call so a folder confirmed by the user applies to the next request of every
// open session.
#pragma once

#include <string>

// Section and key of the shared folder in the settings store.
extern const char* const g_pszConfigSection;  // "Config"
extern const char* const g_pszPathKey;        // "Path"
// The STB's code page, stored with the folder (the command line's --charset).
extern const char* const g_pszCharsetKey;     // "Charset"
// Keys of the network options in the same section (the command line's --listen, --allow,
// --max-sessions, --max-sessions-per-host, --read-only, --wide-links).
extern const char* const g_pszListenKey;              // "Listen"
extern const char* const g_pszAllowKey;               // "Allow"
extern const char* const g_pszMaxSessionsKey;         // "MaxSessions"
extern const char* const g_pszMaxSessionsPerHostKey;  // "MaxSessionsPerHost"
extern const char* const g_pszReadOnlyKey;            // "ReadOnly"
extern const char* const g_pszWideLinksKey;           // "WideLinks"
// Where the status page is served (the command line's --status-listen).
extern const char* const g_pszStatusListenKey;        // "StatusListen"

// The value of a key of the section, blanks around it removed; the empty string when the
// file, section or key is missing. Any thread.
std::string GetConfigValue(const char* pszKey);

// The stored shared folder, or the empty string when none is stored. Any thread.
std::string GetSharedFolder();

// Stores the folder when it differs from the stored one. 0, or -1 when it cannot be
// written.
int StoreSharedFolder(const std::string& strFolder);

// The shared folder and the STB's code page (blanks around it removed; empty: names
// pass unchanged), read together from one reading of the store. Any thread.
struct CShareSetting {
    std::string strFolder;
    std::string strCharset;
};
CShareSetting GetShareSetting();
// Stores the folder and the code page, in one write when either differs from the
// stored one. 0, or -1 when it cannot be written.
int StoreShareSetting(const CShareSetting& setting);

// The form a folder is stored in: absolute, without trailing separators (except a root's:
// "/", on Windows "C:\"), so that one folder is stored one way however it was written.
std::string NormaliseFolder(const std::string& strFolder);
