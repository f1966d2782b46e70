#include "app/ownfiles.h"

#include "platform/instance.h"
#include "xfer/journal.h"
#include "platform/ownfiles.h"
#include "platform/profile.h"

std::vector<std::string> DaemonOwnPaths()
{
    std::vector<std::string> paths;
    paths.reserve(3);
    std::string strSettings = plat::GetProfileFile();
    if (!strSettings.empty())
        paths.push_back(std::move(strSettings));
    std::string strLock = plat::InstanceGuardFile("CORVANE");
    if (!strLock.empty())
        paths.push_back(std::move(strLock));
    // The journal of unfinished uploads: the folder and everything in it (a record planted
    // there would have the next start delete a file it names).
    std::string strJournal = JournalFolder();
    if (!strJournal.empty()) {
        while (strJournal.size() > 1 && (strJournal.back() == '/' || strJournal.back() == '\\'))
            strJournal.pop_back();
        paths.push_back(strJournal + "/");
    }
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
