// The daemon's own folder for what must outlive a crash and a reboot (the journal of the
// uploads in progress), and the small files it keeps there. These paths are the
// daemon's, never an STB's: they are not resolved beneath a shared folder.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace plat {

// The folder: $STATE_DIRECTORY when set (the system service's StateDirectory=), else
// $XDG_STATE_HOME/Corvane, else $HOME/.local/state/Corvane; on Windows
// %LOCALAPPDATA%\Corvane. Read from the environment at every call; empty when none of
// them names a folder.
std::string GetStateFolder();
// Makes the folder with its missing parents, those it makes open to the user alone. 0,
// or -1 when it is not a folder afterwards.
int MakeStateFolder(const std::string& strFolder);
// The names of the plain files in the folder. 0, or -1 when it cannot be read.
int ListStateFiles(const std::string& strFolder, std::vector<std::string>& names);

// A small file of the daemon's own in such a folder, written at its end and held
// against every other copy of the daemon (a lock; on Windows no sharing but reading)
// from its creation until it is removed or closed. Used by one thread.
class CStateFile {
public:
    CStateFile() = default;
    ~CStateFile() { Close(); }
    CStateFile(const CStateFile&) = delete;
    CStateFile& operator=(const CStateFile&) = delete;
    // Takes over the other's open file (and its lock); the other is left closed.
    CStateFile(CStateFile&& other) noexcept { TakeFrom(other); }
    CStateFile& operator=(CStateFile&& other) noexcept
    {
        if (this != &other)
            TakeFrom(other);
        return *this;
    }

    // Creates the file; fails when the name is taken. 0 or -1.
    int Create(const std::string& strFolder, const std::string& strName);
    // Opens an existing file and reads it whole (at most nMax bytes). 0; 1 when another
    // copy of the daemon holds it; -1 when it cannot be opened or read.
    int Take(const std::string& strFolder, const std::string& strName, std::string& strBytes, size_t nMax);
    // Appends the bytes. 0 or -1.
    int Append(const std::string& strBytes);
    // Brings the file's content to the disk (a flush of FlushKind::File). 0 or -1.
    int Flush() const;
    // Removes the file and closes it. The folder is not flushed (see FlushFolder). 0 or -1.
    int Remove();
    // Closes the file and leaves it where it is.
    void Close();
    bool IsOpen() const;

private:
    void TakeFrom(CStateFile& other);

    std::string m_strPath;
#ifdef _WIN32
    void* m_hFile = nullptr;  // a HANDLE
    unsigned long long m_ullEnd = 0;
#else
    int m_nFd = -1;
#endif
};

}  // namespace plat
