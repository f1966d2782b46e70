#include "fuzz/fuzz_share.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "app/settings.h"
#include "platform/log.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace

CFuzzShare::CFuzzShare()
{
    const char* pszRoot = getenv("CORVANE_FUZZ_ROOT");
    if (pszRoot != nullptr && *pszRoot != '\0') {
        m_strRoot = pszRoot;
    } else {
        char szTemplate[] = "/dev/shm/corvane-fuzz-XXXXXX";
        m_strRoot = mkdtemp(szTemplate);
    }
    std::error_code ec;
    fs::create_directories(m_strRoot + "/cfg", ec);
    m_strShare = m_strRoot + "/share";
    setenv("XDG_CONFIG_HOME", (m_strRoot + "/cfg").c_str(), 1);
    StoreSharedFolder(m_strShare);
    plat::SetTraceQuiet(true);
}

void CFuzzShare::Reset()
{
    std::error_code ec;
    fs::permissions(m_strShare, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_strShare, ec);
    fs::create_directories(m_strShare + "/dir/sub", ec);
    fs::create_directories(m_strShare + "/empty", ec);
    Write(m_strShare + "/a.txt", "hello, set-top box\n");
    Write(m_strShare + "/dir/b.bin", std::string(5000, 'b'));
    Write(m_strShare + "/dir/sub/c.ts", std::string(70000, 'c'));
    Write(m_strShare + "/zero", "");
    std::string strHeader(32, '\0');
    strHeader[16] = 0x12;
    strHeader[17] = 0x34;
    strHeader[22] = 0x01;
    strHeader[23] = 0x05;
    Write(m_strShare + "/FW.stb", strHeader);
}
