#include "platform/profile.h"

#include "platform/common/profile_choice.h"

#include <vector>

#include "platform/win32/beneath.h"

namespace plat {

namespace {

std::string ReadAppName()
{
    std::wstring wstrExe(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, wstrExe.data(), static_cast<DWORD>(wstrExe.size()));
        if (n == 0)
            return "corvane";
        if (n < wstrExe.size()) {
            wstrExe.resize(n);
            break;
        }
        wstrExe.resize(wstrExe.size() * 2);
    }
    const size_t nSep = wstrExe.find_last_of(L"\\/");
    std::wstring wstrName = wstrExe.substr(nSep == std::wstring::npos ? 0 : nSep + 1);
    const size_t nDot = wstrName.rfind(L'.');
    if (nDot != std::wstring::npos && nDot > 0)
        wstrName.erase(nDot);
    return WideToUtf8(wstrName);
}

// HKEY_CURRENT_USER\Software\Corvane\<application name>\<section>.
bool SectionKeyName(const char* pszSection, std::wstring& wstrKey)
{
    std::wstring wstrApp, wstrSection;
    if (!Utf8ToWide(GetAppName(), wstrApp) || !Utf8ToWide(pszSection, wstrSection))
        return false;
    wstrKey = L"Software\\Corvane\\" + wstrApp + L"\\" + wstrSection;
    return true;
}

bool RegistryRead(HKEY hKey, const char* pszValue, std::string& strOut)
{
    std::wstring wstrValue;
    if (!Utf8ToWide(pszValue, wstrValue))
        return false;
    DWORD dwBytes = 0;
    if (RegGetValueW(hKey, nullptr, wstrValue.c_str(), RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                     nullptr, &dwBytes) != ERROR_SUCCESS)
        return false;
    for (int nTry = 0; nTry < 3; ++nTry) {
        std::wstring wstrData(dwBytes / sizeof(wchar_t) + 1, L'\0');
        dwBytes = static_cast<DWORD>(wstrData.size() * sizeof(wchar_t));
        const LSTATUS rc = RegGetValueW(hKey, nullptr, wstrValue.c_str(), RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                                        nullptr, wstrData.data(), &dwBytes);
        if (rc == ERROR_MORE_DATA)
            continue;  // grown meanwhile
        if (rc != ERROR_SUCCESS)
            return false;
        wstrData.resize(dwBytes / sizeof(wchar_t));
        while (!wstrData.empty() && wstrData.back() == L'\0')
            wstrData.pop_back();
        strOut = WideToUtf8(wstrData);
        return true;
    }
    return false;
}

// An INI file's name for the profile calls: whole, in the plain form they read best (a
// relative name would be taken from the Windows folder).
bool IniFileName(const std::string& strFile, std::wstring& wstrOut)
{
    if (!ToWinPath(strFile, wstrOut))
        return false;
    wstrOut = PlainWinPath(wstrOut);
    return true;
}

// One value of an INI file by GetPrivateProfileStringW; false when it is missing.
bool IniRead(const std::wstring& wstrFile, const char* pszSection, const char* pszKey, std::string& strOut)
{
    std::wstring wstrSection, wstrKey;
    if (!Utf8ToWide(pszSection, wstrSection) || !Utf8ToWide(pszKey, wstrKey))
        return false;
    // A default no stored value can have tells a missing key from an empty one.
    const wchar_t* const pszMissing = L"\x01";
    std::wstring wstrBuf(1024, L'\0');
    for (;;) {
        const DWORD n = GetPrivateProfileStringW(wstrSection.c_str(), wstrKey.c_str(), pszMissing, wstrBuf.data(),
                                                 static_cast<DWORD>(wstrBuf.size()), wstrFile.c_str());
        if (n + 1 < wstrBuf.size() || wstrBuf.size() >= 1 << 20) {
            wstrBuf.resize(n);
            break;
        }
        wstrBuf.resize(wstrBuf.size() * 4);
    }
    if (wstrBuf == pszMissing)
        return false;
    strOut = WideToUtf8(wstrBuf);
    return true;
}

// The folders on the way to a settings file named by SetProfilePath, made where missing
// (as the per-user store's key is): true when the file's own folder then stands.
bool MakeFoldersOf(const std::string& strFile)
{
    std::wstring wstrPath;
    if (!ToWinPath(strFile, wstrPath))
        return false;
    const size_t nLast = wstrPath.rfind(L'\\');
    // Each folder on the way, past the extended-length prefix and the drive ("\\?\C:\")
    // or "\\?\UNC\": one that is there already, or a UNC path's server, fails harmlessly.
    for (size_t i = 7; i <= nLast; ++i) {
        if (wstrPath[i] == L'\\')
            CreateDirectoryW(wstrPath.substr(0, i).c_str(), nullptr);
    }
    const DWORD dwAttrs = GetFileAttributesW(wstrPath.substr(0, nLast + 1).c_str());
    return dwAttrs != INVALID_FILE_ATTRIBUTES && (dwAttrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::string GetAppName()
{
    // The name the program started under: it stays the same for the whole run.
    static const std::string strName = ReadAppName();
    return strName;
}

std::string GetProfilePath()
{
    const std::string strChosen = ChosenProfile();
    return strChosen.empty() ? "HKEY_CURRENT_USER\\Software\\Corvane\\" + GetAppName() : strChosen;
}

// The registry is no file: only one that --config names counts.
std::string GetProfileFile() { return ChosenProfile(); }

void ProfileGetStrings(const char* pszSection, const char* const* ppszKeys, std::string* pValues, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        pValues[i].clear();
    const std::string strChosen = ChosenProfile();
    if (!strChosen.empty()) {
        std::wstring wstrFile;
        if (!IniFileName(strChosen, wstrFile))
            return;
        for (size_t i = 0; i < n; ++i)
            IniRead(wstrFile, pszSection, ppszKeys[i], pValues[i]);
        return;
    }
    std::wstring wstrKey;
    HKEY hKey = nullptr;
    if (!SectionKeyName(pszSection, wstrKey) ||
        RegOpenKeyExW(HKEY_CURRENT_USER, wstrKey.c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return;
    for (size_t i = 0; i < n; ++i)
        RegistryRead(hKey, ppszKeys[i], pValues[i]);
    RegCloseKey(hKey);
}

std::string ProfileGetString(const char* pszSection, const char* pszKey, const char* pszDefault)
{
    const std::string strChosen = ChosenProfile();
    std::string strValue;
    if (!strChosen.empty()) {
        std::wstring wstrFile;
        if (IniFileName(strChosen, wstrFile) && IniRead(wstrFile, pszSection, pszKey, strValue))
            return strValue;
        return pszDefault;
    }
    std::wstring wstrKey;
    HKEY hKey = nullptr;
    if (!SectionKeyName(pszSection, wstrKey) ||
        RegOpenKeyExW(HKEY_CURRENT_USER, wstrKey.c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return pszDefault;
    const bool bFound = RegistryRead(hKey, pszKey, strValue);
    RegCloseKey(hKey);
    return bFound ? strValue : std::string(pszDefault);
}

int ProfileWriteStrings(const char* pszSection, const char* const* ppszKeys, const std::string* pValues, size_t n)
{
    const std::string strChosen = ChosenProfile();
    if (!strChosen.empty())
        return MakeFoldersOf(strChosen) ? IniWriteStrings(strChosen, pszSection, ppszKeys, pValues, n) : -1;
    std::wstring wstrKey;
    HKEY hKey = nullptr;
    if (!SectionKeyName(pszSection, wstrKey) ||
        RegCreateKeyExW(HKEY_CURRENT_USER, wstrKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &hKey, nullptr) != ERROR_SUCCESS)
        return -1;
    // Each value is written whole (a reader sees the old one or the new one); the values
    // of one call follow one another.
    int rc = 0;
    for (size_t i = 0; i < n && rc == 0; ++i) {
        std::wstring wstrName, wstrData;
        if (!Utf8ToWide(ppszKeys[i], wstrName) || !Utf8ToWide(pValues[i], wstrData)) {
            rc = -1;
            break;
        }
        const DWORD dwBytes = static_cast<DWORD>((wstrData.size() + 1) * sizeof(wchar_t));
        if (RegSetValueExW(hKey, wstrName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(wstrData.c_str()), dwBytes) !=
            ERROR_SUCCESS)
            rc = -1;
    }
    RegCloseKey(hKey);
    return rc;
}

int IniWriteString(const std::string& strFile, const char* pszSection, const char* pszKey,
                   const std::string& strValue)
{
    return IniWriteStrings(strFile, pszSection, &pszKey, &strValue, 1);
}

int IniWriteStrings(const std::string& strFile, const char* pszSection, const char* const* ppszKeys,
                    const std::string* pValues, size_t n)
{
    std::wstring wstrFile, wstrSection;
    if (!IniFileName(strFile, wstrFile) || !Utf8ToWide(pszSection, wstrSection))
        return -1;
    for (size_t i = 0; i < n; ++i) {
        std::wstring wstrKey, wstrValue;
        if (!Utf8ToWide(ppszKeys[i], wstrKey) || !Utf8ToWide(pValues[i], wstrValue) ||
            !WritePrivateProfileStringW(wstrSection.c_str(), wstrKey.c_str(), wstrValue.c_str(), wstrFile.c_str()))
            return -1;
    }
    return 0;
}

}  // namespace plat
