#include "fuzz/fuzz_share.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>

#include "app/settings.h"
#include "net/sess.h"
#include "platform/log.h"

namespace fs = std::filesystem;

namespace {

using CSeed = CFuzzShare::CSeed;
using SeedKind = CFuzzShare::SeedKind;

const char kShare[] = "share";
const char kOutside[] = "cfg/outside";
// Bounds on what one input may make the daemon hold: transfer buffers of a megabyte, so
// that a larger upload is written straight to its file, and files of two (every upload
// reserves its announced size on the volume, which here is memory).
constexpr rlim_t kMaxFileBytes = 2u << 20;
constexpr uint64_t kFuzzBudget = 1u << 20;

std::vector<CSeed> Seeds()
{
    std::string strHeader(32, '\0');  // a firmware file for model 0x1234, version 1.5
    strHeader[16] = 0x12;
    strHeader[17] = 0x34;
    strHeader[22] = 0x01;
    strHeader[23] = 0x05;
    return {
        {"share", SeedKind::Folder, ""},
        {"share/dir", SeedKind::Folder, ""},
        {"share/dir/sub", SeedKind::Folder, ""},
        {"share/empty", SeedKind::Folder, ""},
        {"share/a.txt", SeedKind::File, "hello, set-top box\n"},
        {"share/dir/b.bin", SeedKind::File, std::string(5000, 'b')},
        {"share/dir/sub/c.ts", SeedKind::File, std::string(70000, 'c')},
        {"share/zero", SeedKind::File, ""},
        {"share/FW.stb", SeedKind::File, strHeader},
        // Names for the code pages: one CP932 holds, one it cannot hold, one no code page can.
        {"share/\xE6\x97\xA5\xE6\x9C\xAC.ts", SeedKind::File, "nihon"},  // U+65E5 U+672C
        {"share/dir/\xE2\x82\xAC.txt", SeedKind::File, "euro"},           // U+20AC
        {"share/\xFF\xFE.bin", SeedKind::File, "not UTF-8"},
        {"share/fifo", SeedKind::Fifo, ""},
        // Links out of the shared folder (relative, absolute, to a file, to nothing yet)
        // and one that stays inside.
        {"share/out", SeedKind::Link, "../cfg/outside"},
        {"share/dir/abs", SeedKind::Link, ""},
        {"share/pw", SeedKind::Link, "../cfg/outside/secret.txt"},
        {"share/dangling", SeedKind::Link, "../cfg/outside/new.txt"},
        {"share/inlink", SeedKind::Link, "dir"},
        // What the links lead to.
        {"cfg/outside", SeedKind::Folder, ""},
        {"cfg/outside/inner", SeedKind::Folder, ""},
        {"cfg/outside/secret.txt", SeedKind::File, "outside the shared folder\n"},
    };
}

void Write(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool AtOrBelow(const std::string& strPath, const std::string& strFolder)
{
    return strPath == strFolder || strPath.rfind(strFolder + "/", 0) == 0;
}

}  // namespace

CFuzzShare::CFuzzShare() : m_Seeds(Seeds())
{
    const char* pszRoot = getenv("CORVANE_FUZZ_ROOT");
    if (pszRoot != nullptr && *pszRoot != '\0') {
        m_strRoot = pszRoot;
    } else {
        char szTemplate[] = "/dev/shm/corvane-fuzz-XXXXXX";
        m_strRoot = mkdtemp(szTemplate);
    }
    m_strShare = m_strRoot + "/" + kShare;
    m_strOutside = m_strRoot + "/" + kOutside;
    std::error_code ec;
    fs::create_directories(m_strRoot + "/cfg", ec);
    setenv("XDG_CONFIG_HOME", (m_strRoot + "/cfg").c_str(), 1);
    // The journal of unfinished uploads lies in the world too, in memory, and never in
    // the user's own state folder on the disk.
    unsetenv("STATE_DIRECTORY");
    setenv("XDG_STATE_HOME", (m_strRoot + "/cfg/state").c_str(), 1);
    StoreShareSetting({m_strShare, "CP932"});
    plat::SetTraceQuiet(true);
    // The share lies in memory: an upload may announce gigabytes, which the daemon
    // reserves at once. No file may grow past the limit here, as on a volume about to
    // fill up (a write past it fails instead of ending the process).
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kMaxFileBytes, kMaxFileBytes};
    setrlimit(RLIMIT_FSIZE, &limit);
    m_Budget.SetLimit(kFuzzBudget);
    m_Options.pBudget = &m_Budget;
    m_Options.ullBlockPauseNs = 0;  // each input at full speed
}

std::vector<std::string> CFuzzShare::NamesIn(const std::string& strFolder) const
{
    std::vector<std::string> names;
    for (const CSeed& seed : m_Seeds) {
        const fs::path path(seed.strPath);
        if (path.parent_path() == fs::path(strFolder))
            names.push_back(path.filename().string());
    }
    return names;
}

void CFuzzShare::Restore(const std::string& strPath)
{
    std::error_code ec;
    const std::string strLocal = m_strRoot + "/" + strPath;
    fs::permissions(strLocal, fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, ec);
    fs::remove_all(strLocal, ec);
    m_Watch.ForgetTree(strPath);
    for (const CSeed& seed : m_Seeds) {
        if (!AtOrBelow(seed.strPath, strPath))
            continue;
        const std::string strSeed = m_strRoot + "/" + seed.strPath;
        switch (seed.eKind) {
        case SeedKind::Folder:
            fs::create_directory(strSeed, ec);
            if (!m_Watch.Watch(m_strRoot, seed.strPath, NamesIn(seed.strPath)))
                abort();
            break;
        case SeedKind::File:
            Write(strSeed, seed.strData);
            break;
        case SeedKind::Fifo:
            mkfifo(strSeed.c_str(), 0600);
            break;
        case SeedKind::Link:
            fs::create_symlink(seed.strData.empty() ? m_strOutside : seed.strData, strSeed, ec);
            break;
        }
    }
}

void CFuzzShare::Reset()
{
    m_Watch.Collect();
    std::vector<std::string> touched = m_Watch.Touched();
    if (!m_bBuilt || m_Watch.Overflowed())
        touched = {kShare, kOutside};
    else if (m_Watch.NewEntries().empty() && touched.empty())
        return;  // the input only read
    // What the input made goes; what it touched of the seeded world is made afresh, a
    // folder with everything seeded below it (a path below one made afresh just before
    // is passed over).
    std::error_code ec;
    for (const std::string& strEntry : m_Watch.NewEntries())
        fs::remove_all(m_strRoot + "/" + strEntry, ec);
    std::sort(touched.begin(), touched.end());
    std::string strDone;
    for (const std::string& strPath : touched) {
        if (!strDone.empty() && AtOrBelow(strPath, strDone))
            continue;
        Restore(strPath);
        strDone = strPath;
    }
    // What this undoing caused is no change; a new entry that would not go is.
    bool bLeft = false;
    for (const std::string& strEntry : m_Watch.NewEntries())
        bLeft = bLeft || fs::symlink_status(m_strRoot + "/" + strEntry, ec).type() != fs::file_type::not_found;
    m_Watch.Collect();
    m_Watch.Forget();
    m_bBuilt = !bLeft;
    if (bLeft)
        Reset();  // everything afresh
}

void CFuzzShare::Apply(uint8_t ucOptions, CSess& sess)
{
    static const char* const kCodePages[] = {"", "", "CP1252", "UTF-16"};
    const int nCodePage = (ucOptions >> 2) & 3;
    m_Options.bReadOnly = (ucOptions & 1) != 0;
    m_Options.bWideLinks = (ucOptions & 2) != 0;
    m_Options.bFixedCharset = nCodePage != 1;  // 1: the stored one
    m_Options.strCharset = kCodePages[nCodePage];
    sess.SetOptions(m_Options);
}

bool CFuzzShare::OutsideUntouched()
{
    m_Watch.Collect();
    const auto outside = [](const std::string& strPath) { return AtOrBelow(strPath, kOutside); };
    return !m_Watch.Overflowed() && std::none_of(m_Watch.Touched().begin(), m_Watch.Touched().end(), outside) &&
           std::none_of(m_Watch.NewEntries().begin(), m_Watch.NewEntries().end(), outside);
}
