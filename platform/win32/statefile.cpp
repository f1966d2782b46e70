#include "platform/statefile.h"

#include <utility>

#include "platform/common/flush_note.h"
#include "platform/win32/beneath.h"
#include "platform/win32/win.h"

namespace plat {

namespace {

HANDLE AsHandle(void* p) { return static_cast<HANDLE>(p); }

// The path of a state file in the form the wide calls take; false when it has none.
bool WinPathOf(const std::string& strFolder, const std::string& strName, std::wstring& wstrPath)
{
    return ToWinPath(strFolder + "\\" + strName, wstrPath);
}

}  // namespace

std::string GetStateFolder()
{
    // The environment's value first, as every child of this process sees it too; the
    // profile's own folder when it is not set.
    for (const wchar_t* pszVar : {L"LOCALAPPDATA", L"USERPROFILE"}) {
        wchar_t szValue[32768];
        const DWORD n = GetEnvironmentVariableW(pszVar, szValue, static_cast<DWORD>(std::size(szValue)));
        if (n == 0 || n >= std::size(szValue))
            continue;
        const std::string strBase = WideToUtf8(std::wstring_view(szValue, n));
        return strBase + (pszVar[0] == L'L' ? "\\Corvane" : "\\AppData\\Local\\Corvane");
    }
    return std::string();
}

int MakeStateFolder(const std::string& strFolder)
{
    std::wstring wstrFolder;
    if (!ToWinPath(strFolder, wstrFolder))
        return -1;
    // Each component from the top down past the extended-length prefix ("\\?\"): the
    // creation fails, unheeded, for the root and for every folder that exists already.
    for (size_t i = wstrFolder.find(L'\\', 4);; i = wstrFolder.find(L'\\', i + 1)) {
        CreateDirectoryW(wstrFolder.substr(0, i).c_str(), nullptr);
        if (i == std::wstring::npos)
            break;
    }
    const DWORD dwAttributes = GetFileAttributesW(wstrFolder.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : -1;
}

int ListStateFiles(const std::string& strFolder, std::vector<std::string>& names)
{
    names.clear();
    std::wstring wstrPattern;
    if (!WinPathOf(strFolder, "*", wstrPattern))
        return -1;
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW(wstrPattern.c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : -1;
    do {
        if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
            names.push_back(WideToUtf8(data.cFileName));
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    return 0;
}

int CStateFile::Create(const std::string& strFolder, const std::string& strName)
{
    Close();
    std::wstring wstrPath;
    if (!WinPathOf(strFolder, strName, wstrPath))
        return -1;
    // Readers may look; nobody else may write, delete or take it while it is held.
    HANDLE h = CreateFileW(wstrPath.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    m_hFile = h;
    m_ullEnd = 0;
    m_strPath = strFolder + "\\" + strName;
    return 0;
}

int CStateFile::Take(const std::string& strFolder, const std::string& strName, std::string& strBytes, size_t nMax)
{
    Close();
    strBytes.clear();
    std::wstring wstrPath;
    if (!WinPathOf(strFolder, strName, wstrPath))
        return -1;
    HANDLE h = CreateFileW(wstrPath.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? 1 : -1;
    m_hFile = h;
    m_strPath = strFolder + "\\" + strName;
    char buf[4096];
    while (strBytes.size() < nMax) {
        DWORD dwGot = 0;
        if (!ReadFile(h, buf, sizeof(buf), &dwGot, nullptr))
            return -1;
        if (dwGot == 0)
            return 0;
        strBytes.append(buf, dwGot);
    }
    return 0;
}

int CStateFile::Append(const std::string& strBytes)
{
    size_t nDone = 0;
    while (m_hFile != nullptr && nDone < strBytes.size()) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(m_ullEnd);
        at.OffsetHigh = static_cast<DWORD>(m_ullEnd >> 32);
        DWORD dwPut = 0;
        const DWORD dwChunk = strBytes.size() - nDone > 0x40000000 ? 0x40000000 : static_cast<DWORD>(strBytes.size() - nDone);
        if (!WriteFile(AsHandle(m_hFile), strBytes.data() + nDone, dwChunk, &dwPut, &at) || dwPut == 0)
            return -1;
        nDone += dwPut;
        m_ullEnd += dwPut;
    }
    return m_hFile != nullptr ? 0 : -1;
}

int CStateFile::Flush() const
{
    if (m_hFile == nullptr)
        return -1;
    NoteFlush(FlushKind::File);
    return FlushFileBuffers(AsHandle(m_hFile)) ? 0 : -1;
}

int CStateFile::Remove()
{
    if (m_hFile == nullptr)
        return -1;
    // Its one member is named DeleteFile, which <windows.h> renamed as it declared it.
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool bMarked =
        SetFileInformationByHandle(AsHandle(m_hFile), FileDispositionInfo, &disposition, sizeof(disposition)) != 0;
    Close();
    return bMarked ? 0 : -1;
}

void CStateFile::Close()
{
    if (m_hFile != nullptr)
        CloseHandle(AsHandle(m_hFile));
    m_hFile = nullptr;
    m_ullEnd = 0;
    m_strPath.clear();
}

bool CStateFile::IsOpen() const { return m_hFile != nullptr; }

void CStateFile::TakeFrom(CStateFile& other)
{
    Close();
    m_hFile = other.m_hFile;
    m_ullEnd = other.m_ullEnd;
    m_strPath = std::move(other.m_strPath);
    other.m_hFile = nullptr;
    other.m_ullEnd = 0;
    other.m_strPath.clear();
}

}  // namespace plat
