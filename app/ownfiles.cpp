#include "app/ownfiles.h"

#include "platform/instance.h"
#include "platform/ownfiles.h"
#include "platform/profile.h"

std::vector<std::string> DaemonOwnPaths()
{
    std::vector<std::string> paths;
    paths.reserve(2);
    std::string strSettings = plat::GetProfileFile();
    if (!strSettings.empty())
        paths.push_back(std::move(strSettings));
    std::string strLock = plat::InstanceGuardFile("CORVANE");
    if (!strLock.empty())
        paths.push_back(std::move(strLock));
    return paths;
}

std::string OwnFilesNote(const std::string& strFolder)
{
    const std::string strSettings = plat::GetProfileFile();
    std::string strRel;
    if (strFolder.empty() || strSettings.empty() || !plat::PositionBelow(strFolder, strSettings, strRel))
        return std::string();
    return "the shared folder holds Corvane's settings file " + strSettings + "; STBs cannot reach it";
}
