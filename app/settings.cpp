#include "app/settings.h"

#include <filesystem>

#include "platform/profile.h"

const char* const g_pszConfigSection = "Config";
const char* const g_pszPathKey = "Path";
const char* const g_pszCharsetKey = "Charset";
const char* const g_pszListenKey = "Listen";
const char* const g_pszAllowKey = "Allow";
const char* const g_pszMaxSessionsKey = "MaxSessions";
const char* const g_pszMaxSessionsPerHostKey = "MaxSessionsPerHost";
const char* const g_pszReadOnlyKey = "ReadOnly";
const char* const g_pszWideLinksKey = "WideLinks";
const char* const g_pszStatusListenKey = "StatusListen";

namespace {

std::string Trimmed(const std::string& str)
{
    const size_t nFirst = str.find_first_not_of(" \t\r");
    if (nFirst == std::string::npos)
        return std::string();
    return str.substr(nFirst, str.find_last_not_of(" \t\r") - nFirst + 1);
}

}  // namespace

std::string GetConfigValue(const char* pszKey)
{
    return Trimmed(plat::ProfileGetString(g_pszConfigSection, pszKey, ""));
}

std::string GetSharedFolder() { return plat::ProfileGetString(g_pszConfigSection, g_pszPathKey, ""); }

int StoreSharedFolder(const std::string& strFolder)
{
    if (strFolder == GetSharedFolder())
        return 0;
    return plat::ProfileWriteString(g_pszConfigSection, g_pszPathKey, strFolder);
}

CShareSetting GetShareSetting()
{
    const char* const apszKeys[2] = {g_pszPathKey, g_pszCharsetKey};
    std::string astrValues[2];
    plat::ProfileGetStrings(g_pszConfigSection, apszKeys, astrValues, 2);
    return CShareSetting{std::move(astrValues[0]), Trimmed(astrValues[1])};
}

int StoreShareSetting(const CShareSetting& setting)
{
    const CShareSetting stored = GetShareSetting();
    if (stored.strFolder == setting.strFolder && stored.strCharset == setting.strCharset)
        return 0;
    const char* const apszKeys[2] = {g_pszPathKey, g_pszCharsetKey};
    const std::string astrValues[2] = {setting.strFolder, setting.strCharset};
    return plat::ProfileWriteStrings(g_pszConfigSection, apszKeys, astrValues, 2);
}

std::string NormaliseFolder(const std::string& strFolder)
{
    // '/', and the system's own separator where it is another ('\' on Windows, where a
    // drive's root "C:\" keeps its separator as "/" does).
    constexpr char cSystemSep = static_cast<char>(std::filesystem::path::preferred_separator);
    auto isSep = [](char c) { return c == '/' || c == cSystemSep; };
    const bool bDrives = cSystemSep == '\\';
    const size_t nRoot = bDrives && strFolder.size() >= 3 && strFolder[1] == ':' && isSep(strFolder[2]) ? 3 : 1;
    std::string str = strFolder;
    while (str.size() > nRoot && isSep(str.back()))
        str.pop_back();
    return str;
}
