#include "platform/win32/copyfile.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/common/copy_hook.h"
#include "platform/file.h"

namespace plat {

namespace {

constexpr int kNameTries = 100;
constexpr DWORD kChunk = 1u << 20;

bool IsTemporaryName(const wchar_t* pszName) { return IsCopyTemporaryName(WideToUtf8(pszName)); }

// Sets what a copy keeps of its source on the temporary: the attributes (hidden taken
// off, the temporary's own) and the time it was last written.
bool TakeOverBasics(HANDLE hFrom, HANDLE hTo)
{
    FILE_BASIC_INFO from{}, to{};
    if (!GetFileInformationByHandleEx(hFrom, FileBasicInfo, &from, sizeof(from)) ||
        !GetFileInformationByHandleEx(hTo, FileBasicInfo, &to, sizeof(to)))
        return false;
    to.LastWriteTime = from.LastWriteTime;
    to.FileAttributes = from.FileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE |
                                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (to.FileAttributes == 0)
        to.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(hTo, FileBasicInfo, &to, sizeof(to)) != 0;
}

// A new hidden temporary in the folder, made under a name of its own. A handle (with the
// name's wide form in wstrPath and its UTF-8 form in strName), or none.
HANDLE CreateTemporary(const std::wstring& wstrFolder, std::wstring& wstrPath, std::string& strName)
{
    for (int nTry = 0; nTry < kNameTries; ++nTry) {
        strName = NewCopyTemporaryName();
        std::wstring wstrName;
        Utf8ToWide(strName, wstrName);
        wstrPath = wstrFolder + L'\\' + wstrName;
        HANDLE h = CreateFileW(wstrPath.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            return h;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return INVALID_HANDLE_VALUE;
}

// Copies the source's bytes into the temporary. 0 or -1.
int CopyData(HANDLE hIn, const CPlatFile& out, uint64_t ullSize)
{
    std::unique_ptr<char[]> pBuf(new (std::nothrow) char[kChunk]);
    if (!pBuf)
        return -1;
    for (uint64_t ullDone = 0; ullDone < ullSize;) {
        const DWORD dwWant = ullSize - ullDone < kChunk ? static_cast<DWORD>(ullSize - ullDone) : kChunk;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(ullDone);
        at.OffsetHigh = static_cast<DWORD>(ullDone >> 32);
        DWORD dwGot = 0;
        if (!ReadFile(hIn, pBuf.get(), dwWant, &dwGot, &at) || dwGot == 0)
            return -1;  // shorter than it was: what was measured is not there
        if (out.WriteAt(ullDone, pBuf.get(), dwGot) != 0)
            return -1;
        ullDone += dwGot;
        CallCopyHook(CopyStep::Written, ullDone);
    }
    return 0;
}

// Copies one file to wstrFolder\wstrName (strFolder: the folder's local path). 0 or -1.
int CopyFileThrough(const std::wstring& wstrSrc, const std::wstring& wstrFolder, const std::string& strFolder,
                    const std::wstring& wstrName, CCopyJournal* pJournal)
{
    // Read sharing only reading: a file an upload writes is not whole, and is not read.
    CHandle in(CreateFileW(wstrSrc.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    HandleInfo src;
    if (!in.Ok() || GetFileType(in.Get()) != FILE_TYPE_DISK || !GetHandleInfo(in.Get(), src) || src.IsDir())
        return -1;
    const std::wstring wstrDst = wstrFolder + L'\\' + wstrName;
    const DWORD dwDst = GetFileAttributesW(wstrDst.c_str());
    const bool bReplaces = dwDst != INVALID_FILE_ATTRIBUTES;
    // Only a plain file is replaced: not a folder or a link, not a read-only file, and
    // not one that anyone has open.
    if (bReplaces && ((dwDst & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY)) != 0 ||
                      !FileIsFree(wstrDst, true)))
        return -1;
    std::wstring wstrTemp;
    std::string strTemp;
    const HANDLE hOut = CreateTemporary(wstrFolder, wstrTemp, strTemp);
    if (hOut == INVALID_HANDLE_VALUE)
        return -1;
    CPlatFile out;
    out.Adopt(hOut);
    // In the journal at the length it is given next, before a byte is written into it.
    FileIdentity id;
    if (pJournal != nullptr && out.Identity(id) == 0) {
        id.ullSize = src.ullSize;
        pJournal->Note(strFolder + "/" + strTemp, id);
        pJournal->Commit();
    }
    bool bOk = out.Reserve(src.ullSize) == 0 && CopyData(in.Get(), out, src.ullSize) == 0 &&
               TakeOverBasics(in.Get(), hOut) && out.Flush() == 0;
    out.Close();
    if (bOk) {
        CallCopyHook(CopyStep::Named, src.ullSize);
        // Held meanwhile by someone: left as it is.
        bOk = (!bReplaces || FileIsFree(wstrDst, true)) &&
              MoveFileExW(wstrTemp.c_str(), wstrDst.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!bOk) {
        SetFileAttributesW(wstrTemp.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(wstrTemp.c_str());
        return -1;
    }
    return 0;
}

// Makes the folder that receives a copied folder, or takes the one that is there.
bool MakeCopyFolder(const std::wstring& wstrPath)
{
    if (CreateDirectoryW(wstrPath.c_str(), nullptr))
        return true;
    const DWORD dw = GetFileAttributesW(wstrPath.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (dw & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool IsFolderItself(const WIN32_FIND_DATAW& data)
{
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool IsDotName(const wchar_t* psz) { return psz[0] == L'.' && (psz[1] == 0 || (psz[1] == L'.' && psz[2] == 0)); }

}  // namespace

bool FileIsFree(const std::wstring& wstrPath, bool bExclusive)
{
    CHandle h(CreateFileW(wstrPath.c_str(), bExclusive ? GENERIC_READ | DELETE : GENERIC_READ,
                          bExclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return h.Ok() || GetLastError() != ERROR_SHARING_VIOLATION;
}

bool TreeIsFree(const std::wstring& wstrFolder, bool bExclusive)
{
    std::vector<std::wstring> folders{wstrFolder};
    while (!folders.empty()) {
        const std::wstring wstrDir = std::move(folders.back());
        folders.pop_back();
        WIN32_FIND_DATAW data;
        HANDLE hFind = FindFirstFileExW((wstrDir + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                        nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (hFind == INVALID_HANDLE_VALUE)
            continue;
        bool bFree = true;
        do {
            if (IsDotName(data.cFileName) || IsTemporaryName(data.cFileName))
                continue;
            const std::wstring wstrEntry = wstrDir + L'\\' + data.cFileName;
            if (IsFolderItself(data))
                folders.push_back(wstrEntry);
            else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                bFree = FileIsFree(wstrEntry, bExclusive);
        } while (bFree && FindNextFileW(hFind, &data));
        FindClose(hFind);
        if (!bFree)
            return false;
    }
    return true;
}

int CopyItemThrough(const std::wstring& wstrSrc, const std::wstring& wstrDst, const std::string& strDst,
                    CCopyJournal* pJournal)
{
    const size_t nCut = wstrDst.rfind(L'\\');
    const size_t nCutLocal = strDst.find_last_of("/\\");
    if (nCut == std::wstring::npos || nCutLocal == std::string::npos)
        return -1;
    const DWORD dwSrc = GetFileAttributesW(wstrSrc.c_str());
    if (dwSrc == INVALID_FILE_ATTRIBUTES)
        return -1;
    if ((dwSrc & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return CopyFileThrough(wstrSrc, wstrDst.substr(0, nCut), strDst.substr(0, nCutLocal), wstrDst.substr(nCut + 1),
                               pJournal);
    // A tree, walked from a list: each folder made (or taken) on the other side, each file
    // copied through its temporary. The caller has refused trees with links to folders.
    struct CLevel {
        std::wstring wstrFrom, wstrTo;
        std::string strTo;
    };
    if (!MakeCopyFolder(wstrDst))
        return -1;
    int rc = 0;
    std::vector<CLevel> pending{{wstrSrc, wstrDst, strDst}};
    while (!pending.empty()) {
        const CLevel level = std::move(pending.back());
        pending.pop_back();
        WIN32_FIND_DATAW data;
        HANDLE hFind = FindFirstFileExW((level.wstrFrom + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                        nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (hFind == INVALID_HANDLE_VALUE) {
            rc = -1;
            continue;
        }
        do {
            if (IsDotName(data.cFileName) || IsTemporaryName(data.cFileName))
                continue;  // another copy's file, not whole yet
            const std::wstring wstrFrom = level.wstrFrom + L'\\' + data.cFileName;
            const std::wstring wstrTo = level.wstrTo + L'\\' + data.cFileName;
            if (IsFolderItself(data)) {
                if (MakeCopyFolder(wstrTo))
                    pending.push_back({wstrFrom, wstrTo, level.strTo + "/" + WideToUtf8(data.cFileName)});
                else
                    rc = -1;
            } else if (CopyFileThrough(wstrFrom, level.wstrTo, level.strTo, data.cFileName, pJournal) != 0) {
                rc = -1;
            }
        } while (FindNextFileW(hFind, &data));
        FindClose(hFind);
    }
    return rc;
}

}  // namespace plat
