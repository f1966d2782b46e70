#include "platform/common/profile_choice.h"

#include <mutex>

#include "platform/profile.h"

namespace plat {

namespace {

// The settings file the command line named instead of the per-user store.
struct CProfileChoice {
    std::mutex lock;
    std::string strFile;  // empty: the per-user store
};

CProfileChoice& ProfileChoice()
{
    static CProfileChoice s_choice;
    return s_choice;
}

}  // namespace

void SetProfilePath(const std::string& strFile)
{
    CProfileChoice& choice = ProfileChoice();
    std::lock_guard<std::mutex> guard(choice.lock);
    choice.strFile = strFile;
}

int ProfileWriteString(const char* pszSection, const char* pszKey, const std::string& strValue)
{
    return ProfileWriteStrings(pszSection, &pszKey, &strValue, 1);
}

std::string ChosenProfile()
{
    CProfileChoice& choice = ProfileChoice();
    std::lock_guard<std::mutex> guard(choice.lock);
    return choice.strFile;
}

}  // namespace plat
