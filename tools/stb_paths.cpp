#include "tools/stb_paths.h"

#include <vector>

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> Components(const std::string& strPath)
{
    std::vector<std::string> parts;
    std::string strPart;
    for (char c : strPath) {
        if (!IsSeparator(c)) {
            strPart += c;
            continue;
        }
        if (!strPart.empty())
            parts.push_back(strPart);
        strPart.clear();
    }
    if (!strPart.empty())
        parts.push_back(strPart);
    return parts;
}

}  // namespace

std::string TrimTrailingSeparators(const std::string& strPath)
{
    size_t n = strPath.size();
    while (n > 0 && IsSeparator(strPath[n - 1]))
        --n;
    if (n == 0 && !strPath.empty())
        return "/";
    return strPath.substr(0, n);
}

std::string StbBaseName(const std::string& strPath)
{
    const std::vector<std::string> parts = Components(strPath);
    if (parts.empty() || parts.back() == "." || parts.back() == "..")
        return "";
    return parts.back();
}

bool IsSharedRoot(const std::string& strPath)
{
    for (const std::string& str : Components(strPath))
        if (str != ".")
            return false;
    return true;
}

void SplitStbPath(const std::string& strPath, std::string& strParent, std::string& strLeaf)
{
    const std::string strTrimmed = TrimTrailingSeparators(strPath);
    size_t nSep = strTrimmed.find_last_of("/\\");
    if (nSep == std::string::npos) {
        strParent.clear();
        strLeaf = strTrimmed;
        return;
    }
    strLeaf = strTrimmed.substr(nSep + 1);
    strParent = strTrimmed.substr(0, nSep + 1);
}

bool SafeRelativePath(const std::string& strName, std::string& strRelative)
{
    strRelative.clear();
    for (const std::string& str : Components(strName)) {
        if (str == "..")
            return false;
        if (str == ".")
            continue;
        if (!strRelative.empty())
            strRelative += '/';
        strRelative += str;
    }
    return true;
}
