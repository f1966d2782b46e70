#include "platform/profile.h"

#include "platform/common/profile_choice.h"

// The header carries its template bodies only when asked for them.
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

static std::string ReadAppName()
{
    char szExe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
    std::string strName = "corvane";
    if (n > 0) {
        szExe[n] = '\0';
        std::string strExe(szExe);
        // A program file replaced while it runs (an upgrade) reads as "name (deleted)".
        const std::string strDeleted = " (deleted)";
        if (strExe.size() > strDeleted.size() &&
            strExe.compare(strExe.size() - strDeleted.size(), strDeleted.size(), strDeleted) == 0)
            strExe.resize(strExe.size() - strDeleted.size());
        size_t nSlash = strExe.rfind('/');
        strName = strExe.substr(nSlash == std::string::npos ? 0 : nSlash + 1);
    }
    size_t nDot = strName.rfind('.');
    if (nDot != std::string::npos && nDot > 0)
        strName.erase(nDot);
    return strName;
}

std::string GetAppName()
{
    // The name the program started under: it stays the same for the whole run.
    static const std::string strName = ReadAppName();
    return strName;
}

static std::string ConfigRoot()
{
    const char* pszXdg = getenv("XDG_CONFIG_HOME");
    if (pszXdg != nullptr && *pszXdg != '\0')
        return pszXdg;
    const char* pszHome = getenv("HOME");
    return std::string(pszHome != nullptr ? pszHome : "") + "/.config";
}

std::string GetProfilePath()
{
    std::string strChosen = ChosenProfile();
    return strChosen.empty() ? ConfigRoot() + "/Corvane/" + GetAppName() + ".ini" : strChosen;
}

std::string GetProfileFile() { return GetProfilePath(); }

std::string ProfileGetString(const char* pszSection, const char* pszKey, const char* pszDefault)
{
    CSimpleIniA ini;
    if (ini.LoadFile(GetProfilePath().c_str()) < 0)
        return pszDefault;
    return ini.GetValue(pszSection, pszKey, pszDefault);
}

void ProfileGetStrings(const char* pszSection, const char* const* ppszKeys, std::string* pValues, size_t n)
{
    CSimpleIniA ini;
    const bool bLoaded = ini.LoadFile(GetProfilePath().c_str()) >= 0;
    for (size_t i = 0; i < n; ++i)
        pValues[i] = bLoaded ? ini.GetValue(pszSection, ppszKeys[i], "") : "";
}

static int MakeDirs(const std::string& strDir)
{
    for (size_t i = 1; i <= strDir.size(); ++i) {
        if (i == strDir.size() || strDir[i] == '/') {
            std::string strPart = strDir.substr(0, i);
            if (mkdir(strPart.c_str(), 0700) != 0 && errno != EEXIST)
                return -1;
        }
    }
    return 0;
}

int ProfileWriteStrings(const char* pszSection, const char* const* ppszKeys, const std::string* pValues, size_t n)
{
    // The folders on the way to the file are made where missing, for a file named with
    // --config as for the per-user one.
    const std::string strPath = GetProfilePath();
    const size_t nSlash = strPath.rfind('/');
    if (nSlash != std::string::npos && MakeDirs(strPath.substr(0, nSlash)) != 0)
        return -1;
    return IniWriteStrings(strPath, pszSection, ppszKeys, pValues, n);
}

int IniWriteString(const std::string& strFile, const char* pszSection, const char* pszKey,
                   const std::string& strValue)
{
    return IniWriteStrings(strFile, pszSection, &pszKey, &strValue, 1);
}

int IniWriteStrings(const std::string& strFile, const char* pszSection, const char* const* ppszKeys,
                    const std::string* pValues, size_t n)
{
    CSimpleIniA ini;
    SI_Error rc = ini.LoadFile(strFile.c_str());
    if (rc < 0 && (rc != SI_FILE || access(strFile.c_str(), F_OK) == 0))
        return -1;  // the file is there but cannot be read: do not replace it
    for (size_t i = 0; i < n; ++i)
        ini.SetValue(pszSection, ppszKeys[i], pValues[i].c_str());
    // Write beside the file, then rename over it: a reader on another thread sees the
    // old file or the new one, never half of one. The file beside is always a new one:
    // whatever stood under its name (left by a crash, or an upload an STB holds open
    // there while the folder is shared) would otherwise become the settings file.
    std::string strTemp = strFile + ".tmp." + std::to_string(getpid());
    unlink(strTemp.c_str());
    const int fd = open(strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    FILE* pFile = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (pFile == nullptr) {
        if (fd >= 0) {
            close(fd);
            unlink(strTemp.c_str());
        }
        return -1;
    }
    const bool bSaved = ini.SaveFile(pFile, false) >= 0;
    if (fclose(pFile) != 0 || !bSaved) {
        unlink(strTemp.c_str());
        return -1;
    }
    if (rename(strTemp.c_str(), strFile.c_str()) != 0) {
        unlink(strTemp.c_str());
        return -1;
    }
    return 0;
}

}  // namespace plat
