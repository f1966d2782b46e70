#include "app/settings.h"

#include "platform/profile.h"

const char* const g_pszConfigSection = "Config";
const char* const g_pszPathKey = "Path";
const char* const g_pszListenKey = "Listen";
const char* const g_pszAllowKey = "Allow";
const char* const g_pszMaxSessionsKey = "MaxSessions";
const char* const g_pszMaxSessionsPerHostKey = "MaxSessionsPerHost";
const char* const g_pszReadOnlyKey = "ReadOnly";
const char* const g_pszWideLinksKey = "WideLinks";

std::string GetConfigValue(const char* pszKey)
{
    std::string str = plat::ProfileGetString(g_pszConfigSection, pszKey, "");
    const size_t nFirst = str.find_first_not_of(" \t\r");
    if (nFirst == std::string::npos)
        return std::string();
    return str.substr(nFirst, str.find_last_not_of(" \t\r") - nFirst + 1);
}

std::string GetSharedFolder() { return plat::ProfileGetString(g_pszConfigSection, g_pszPathKey, ""); }

int StoreSharedFolder(const std::string& strFolder)
{
    if (strFolder == GetSharedFolder())
        return 0;
    return plat::ProfileWriteString(g_pszConfigSection, g_pszPathKey, strFolder);
}

std::string NormaliseFolder(const std::string& strFolder)
{
    std::string str = strFolder;
    while (str.size() > 1 && str.back() == '/')
        str.pop_back();
    return str;
}
