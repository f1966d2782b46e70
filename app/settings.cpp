#include "app/settings.h"

#include "platform/profile.h"

const char* const g_pszConfigSection = "Config";
const char* const g_pszPathKey = "Path";

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
