#include "platform/statefile.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/posix/flushat.h"

namespace plat {

std::string GetStateFolder()
{
    // systemd names the service's own folder (StateDirectory=), possibly several of them
    // separated by ':': the first is the daemon's.
    const char* pszService = getenv("STATE_DIRECTORY");
    if (pszService != nullptr && *pszService == '/') {
        std::string strFolder(pszService);
        return strFolder.substr(0, strFolder.find(':'));
    }
    const char* pszXdg = getenv("XDG_STATE_HOME");
    if (pszXdg != nullptr && *pszXdg == '/')
        return std::string(pszXdg) + "/Corvane";
    const char* pszHome = getenv("HOME");
    if (pszHome != nullptr && *pszHome == '/')
        return std::string(pszHome) + "/.local/state/Corvane";
    return std::string();
}

int MakeStateFolder(const std::string& strFolder)
{
    if (strFolder.empty() || strFolder[0] != '/')
        return -1;
    for (size_t i = 1; i <= strFolder.size(); ++i) {
        if (i == strFolder.size() || strFolder[i] == '/') {
            const std::string strPart = strFolder.substr(0, i);
            if (mkdir(strPart.c_str(), 0700) != 0 && errno != EEXIST)
                return -1;
        }
    }
    struct stat st;
    return stat(strFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : -1;
}

int ListStateFiles(const std::string& strFolder, std::vector<std::string>& names)
{
    names.clear();
    DIR* pDir = opendir(strFolder.c_str());
    if (pDir == nullptr)
        return -1;
    while (const dirent* pEntry = readdir(pDir)) {
        struct stat st;
        if (fstatat(dirfd(pDir), pEntry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            names.emplace_back(pEntry->d_name);
    }
    closedir(pDir);
    return 0;
}

int CStateFile::Create(const std::string& strFolder, const std::string& strName)
{
    Close();
    const std::string strPath = strFolder + "/" + strName;
    const int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        unlink(strPath.c_str());
        close(fd);
        return -1;
    }
    m_nFd = fd;
    m_strPath = strPath;
    return 0;
}

int CStateFile::Take(const std::string& strFolder, const std::string& strName, std::string& strBytes, size_t nMax)
{
    Close();
    strBytes.clear();
    const std::string strPath = strFolder + "/" + strName;
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return errno == EWOULDBLOCK ? 1 : -1;
    }
    m_nFd = fd;
    m_strPath = strPath;
    char buf[4096];
    while (strBytes.size() < nMax) {
        const ssize_t n = read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            return 0;
        strBytes.append(buf, static_cast<size_t>(n));
    }
    return 0;
}

int CStateFile::Append(const std::string& strBytes)
{
    size_t nDone = 0;
    while (m_nFd >= 0 && nDone < strBytes.size()) {
        const ssize_t n = write(m_nFd, strBytes.data() + nDone, strBytes.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        nDone += static_cast<size_t>(n);
    }
    return m_nFd >= 0 ? 0 : -1;
}

int CStateFile::Flush() const
{
    return m_nFd < 0 ? -1 : FlushFileAt(m_nFd);
}

int CStateFile::Remove()
{
    if (m_nFd < 0)
        return -1;
    const int rc = unlink(m_strPath.c_str());
    Close();
    return rc == 0 ? 0 : -1;
}

void CStateFile::Close()
{
    if (m_nFd >= 0)
        close(m_nFd);
    m_nFd = -1;
    m_strPath.clear();
}

bool CStateFile::IsOpen() const { return m_nFd >= 0; }

void CStateFile::TakeFrom(CStateFile& other)
{
    Close();
    m_nFd = other.m_nFd;
    m_strPath = std::move(other.m_strPath);
    other.m_nFd = -1;
    other.m_strPath.clear();
}

}  // namespace plat
