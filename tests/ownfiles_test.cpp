// The daemon's own files (its settings file and its lock) out of every STB's reach where
// they lie in the shared folder (a whole home folder shared, or --config naming a file in
// it): no request reads, makes, replaces, deletes or moves them, or removes or moves a
// folder on the way to them, by any name; each is answered as a path out of the shared
// folder is, and everything else in their folders works as before.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>
#ifndef _WIN32
#include <unistd.h>  // getpid
#endif

#include "app/settings.h"
#include "fs/ownpath.h"
#include "platform/instance.h"
#include "platform/profile.h"
#include "tests/daemon_proc.h"
#include "tests/test_bytes.h"
#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"
#include "xfer/journal.h"

namespace {

namespace fs = std::filesystem;

const std::string kEvil = "[Config]\nPath=/\nAllow=all\nWideLinks=1\n";

// The local path's position below the folder, '/' between names; empty when it does not
// lie there.
std::string Below(const std::string& strFolder, const std::string& strPath)
{
    const std::string strRel = LocalFsString(LocalFsPath(strPath).lexically_relative(LocalFsPath(strFolder)));
    return strRel.rfind("..", 0) == 0 ? std::string() : strRel;
}

std::string TwoPaths(const std::string& from, const std::string& to)
{
    return std::string(1, '\x01') + from + '\0' + to + '\0';
}

// One request against an own file or a folder on the way: the path under test and the
// payload that carries it (a second path of the request is an ordinary one).
struct COwnCase {
    std::string strWhat;
    uint8_t ucReq, ucReply;
    std::string strPath;
    std::function<std::string(const std::string& path)> payload;
};

class DaemonOwnFiles : public ::testing::Test {
protected:
    CTempShare share{OwnFilesPlace::InShare};
    std::string m_strIni;      // the settings file below the shared folder
    std::string m_strIniName;  // its name
    std::string m_strLock;     // the lock below the shared folder; empty where it is no file
    std::string m_strNoLinks;  // why the links could not be made; empty when they stand
    bool m_bHardLink = false;  // a hard link to the settings file stands in stage/

    void SetUp() override
    {
        m_strIni = Below(share.Share(), plat::GetProfilePath());
        ASSERT_EQ(m_strIni.rfind(".config/Corvane/", 0), 0u) << m_strIni;
        m_strIniName = m_strIni.substr(m_strIni.rfind('/') + 1);
        m_strLock = Below(share.Share(), plat::InstanceGuardFile("CORVANE"));
#ifndef _WIN32
        ASSERT_EQ(m_strLock, "run/CORVANE.lock");
#endif
        MakeLayout();
    }

    // What a local user keeps beside the settings: other files in its folder, files to
    // copy and move, and links into the settings folder and to the lock's.
    void MakeLayout()
    {
        share.WriteFile("stage/evil.ini", kEvil);
        share.WriteFile("stage/Corvane/" + m_strIniName, kEvil);
        share.WriteFile(".config/Corvane/other.txt", "other");
        std::error_code ec;
        fs::create_directory_symlink(".config/Corvane", LocalFsPath(share.Path("in-link")), ec);
        if (!ec && !m_strLock.empty())
            fs::create_directory_symlink("run", LocalFsPath(share.Path("run-link")), ec);
        if (ec)
            m_strNoLinks = ec.message();
        fs::create_hard_link(LocalFsPath(share.Path(m_strIni)), LocalFsPath(share.Path("stage/hard.ini")), ec);
        m_bHardLink = !ec;
    }

    // Puts the layout back after a request that changed it (only a fault does).
    void RestoreLayout(const std::string& strIni)
    {
        std::error_code ec;
        for (const fs::directory_entry& e : fs::directory_iterator(LocalFsPath(share.Share()), ec))
            fs::remove_all(e.path(), ec);
        fs::create_directories(LocalFsPath(share.Path(".config/Corvane")), ec);
        fs::create_directories(LocalFsPath(share.Path("run")), ec);
        WriteLocalFile(share.Path(m_strIni), strIni);
        MakeLayout();
    }

    // Each request in a session of its own: answered as the same request with a ".." path
    // is, and the share unchanged (put back when it is not, so that each case tells).
    void ExpectRefusedAndNothingChanged(const std::vector<COwnCase>& cases)
    {
        CTestServer server;
        const std::string strIni = share.ReadFile(m_strIni);
        ASSERT_FALSE(strIni.empty());
        const auto before = Tree(share.Share());
        for (const COwnCase& c : cases) {
            SCOPED_TRACE(c.strWhat);
            CStbSession viaParent(server.Port());
            const std::string refused = viaParent.Ask(c.ucReq, c.payload("../" + c.strPath), c.ucReply);
            CStbSession client(server.Port());
            EXPECT_EQ(client.Ask(c.ucReq, c.payload(c.strPath), c.ucReply), refused);
            if (c.ucReq == 0x0B || c.ucReq == 0x0C) {
                // A refused copy or move starts nothing: the same request is refused again,
                // not answered as a poll of an operation (one that runs is awaited).
                std::string again;
                EXPECT_TRUE(WaitFor([&] {
                    return (again = client.Ask(c.ucReq, c.payload(c.strPath), c.ucReply)) != "\x02";
                }));
                EXPECT_EQ(again, refused);
            }
            ASSERT_TRUE(client.Settled());
            if (Tree(share.Share()) != before) {
                ADD_FAILURE() << "the request changed the share";
                RestoreLayout(strIni);
            }
        }
    }

    const std::function<std::string(const std::string&)> path = [](const std::string& p) { return PathPayload(p); };
    const std::function<std::string(const std::string&)> upload = [](const std::string& p) {
        return std::string(1, '\x01') + U32(5) + p + '\0';
    };
    const std::function<std::string(const std::string&)> moveAway = [](const std::string& p) {
        return TwoPaths(p, "stage/moved");
    };
};

// Links need a privilege on Windows, and Wine makes none.
const char kNoLinks[] = "makes symbolic links, which need a privilege on Windows (and which Wine cannot make): ";

}  // namespace

// Every command against the settings file and the folders on the way to it: the answer of
// a ".." path, and nothing changes.
TEST_F(DaemonOwnFiles, EveryCommandIsAnsweredAsOutOfTheShareAndNothingChanges)
{
    const auto upload64 = [](const std::string& p) { return std::string(1, '\x01') + LE(5, 8) + p + '\0'; };
    const auto copyOf = [](const std::string& p) { return TwoPaths(p, "stage/copy.ini"); };
    const auto copyOnto = [](const std::string& p) { return TwoPaths("stage/evil.ini", p); };
    const auto folderOnto = [](const std::string& p) { return TwoPaths("stage/Corvane", p); };
    const auto rename = [](const std::string& p) { return TwoPaths(p, ".config/Renamed"); };
    ExpectRefusedAndNothingChanged({
        {"download of the settings file", 0x02, 0xF2, m_strIni, path},
        {"its size", 0x10, 0xE0, m_strIni, path},
        {"upload onto it", 0x0D, 0xFD, m_strIni, upload},
        {"64-bit upload onto it", 0x27, 0xDD, m_strIni, upload64},
        {"its deletion", 0x08, 0xF8, m_strIni, path},
        {"a copy of it", 0x0B, 0xFB, m_strIni, copyOf},
        {"a copy onto it", 0x0B, 0xFB, m_strIni, copyOnto},
        {"a copy of a folder onto a folder on the way", 0x0B, 0xFB, ".config", folderOnto},
        {"a move of it", 0x0C, 0xFC, m_strIni, moveAway},
        {"a move onto it", 0x0C, 0xFC, m_strIni, copyOnto},
        {"a move of a folder onto a folder on the way", 0x0C, 0xFC, ".config", folderOnto},
        {"a move of a folder on the way", 0x0C, 0xFC, ".config", moveAway},
        {"a rename of its folder", 0x0C, 0xFC, ".config/Corvane", rename},
        {"removal of its folder", 0x0A, 0xFA, ".config/Corvane", path},
        {"removal of the folder above it", 0x0A, 0xFA, ".config", path},
    });
}

// The same through a link inside the shared folder that leads to the settings folder:
// the file is neither replaced, made nor deleted there, nor the folder removed or moved.
TEST_F(DaemonOwnFiles, LinkToItsFolderReachesNothing)
{
    if (!m_strNoLinks.empty())
        GTEST_SKIP() << kNoLinks << m_strNoLinks;
    ExpectRefusedAndNothingChanged({
        {"upload through a link to its folder", 0x0D, 0xFD, "in-link/" + m_strIniName, upload},
        {"deletion through a link to its folder", 0x08, 0xF8, "in-link/" + m_strIniName, path},
        {"removal of its folder through a link", 0x0A, 0xFA, "in-link/.", path},
        {"a move of its folder through a link", 0x0C, 0xFC, "in-link/.", moveAway},
    });
}

// A hard link that a local user made to the settings file is the file all the same.
TEST_F(DaemonOwnFiles, HardLinkToItReachesNothing)
{
    if (!m_bHardLink)
        GTEST_SKIP() << "the file system makes no hard links here";
    ExpectRefusedAndNothingChanged({
        {"download of a hard link to it", 0x02, 0xF2, "stage/hard.ini", path},
        {"upload onto a hard link to it", 0x0D, 0xFD, "stage/hard.ini", upload},
    });
}

// The single-instance lock is made anew nowhere, by its name or through a link to its
// folder (no daemon of this test holds it, so it is missing), and its folder stays.
TEST_F(DaemonOwnFiles, LockIsNeverMadeNorItsFolderRemoved)
{
    if (m_strLock.empty())
        GTEST_SKIP() << "the single-instance guard is a named mutex here, not a file";
    std::vector<COwnCase> cases = {
        {"the lock made by an upload", 0x0D, 0xFD, m_strLock, upload},
        {"the lock made as a folder", 0x09, 0xF9, m_strLock, path},
        {"removal of the lock's folder", 0x0A, 0xFA, "run", path},
    };
    if (m_strNoLinks.empty())
        cases.push_back({"the lock made through a link to its folder", 0x0D, 0xFD, "run-link/CORVANE.lock", upload});
    ExpectRefusedAndNothingChanged(cases);
}

// The journal of unfinished uploads, where its folder lies in the shared folder: no record
// is planted, read, replaced or deleted there (a planted one would have the next start
// delete a file it names), and the folder stays.
TEST_F(DaemonOwnFiles, JournalOfUnfinishedUploadsIsOutOfReach)
{
    const std::string strJournal = Below(share.Share(), JournalFolder());
    ASSERT_FALSE(strJournal.empty()) << JournalFolder();
    // A record as an upload in progress leaves it.
    CTestServer server;
    CStbSession uploader(server.Port());
    ASSERT_EQ(uploader.UploadOpen(0x27, 1000, "pending.bin"), 0);
    std::string strRecord;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(LocalFsPath(share.Path(strJournal)), ec))
        strRecord = strJournal + "/" + LocalFsString(e.path().filename());
    ASSERT_FALSE(strRecord.empty());
    const auto plant = [](const std::string& p) { return TwoPaths("stage/evil.ini", p); };
    ExpectRefusedAndNothingChanged({
        {"a record planted by an upload", 0x0D, 0xFD, strJournal + "/9-9.unfinished", upload},
        {"a record planted by a copy", 0x0B, 0xFB, strJournal + "/9-9.unfinished", plant},
        {"a record read", 0x02, 0xF2, strRecord, path},
        {"a record deleted", 0x08, 0xF8, strRecord, path},
        {"the journal's folder removed", 0x0A, 0xFA, strJournal, path},
        {"the journal's folder moved", 0x0C, 0xFC, strJournal, moveAway},
    });
}

// A directory download of a folder on the way lists everything but the settings file, and
// a move's removal afterwards takes everything but it (and so leaves its folders).
TEST_F(DaemonOwnFiles, DirectoryDownloadLeavesTheSettingsFileOutAndInPlace)
{
    CTestServer server;
    const std::string strIni = share.ReadFile(m_strIni);
    CStbSession client(server.Port());
    const std::string reply = client.Ask(0x13, PathPayload(".config"), 0xE3);
    ASSERT_EQ(reply.size(), 13u);
    const uint32_t ulCount = GetU32(reply, 1);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < ulCount; ++i) {
        const CReply entry = client.Exchange(0x01, U32(i));
        ASSERT_EQ(entry.first, 0x10);
        const size_t nName = 1 + 4;
        names.push_back(entry.second.substr(nName, entry.second.size() - nName - 1));
    }
    EXPECT_EQ(names, (std::vector<std::string>{".config/", ".config/Corvane/", ".config/Corvane/other.txt"}));
    const std::string moved = client.Ask(0x19, U32(ulCount), 0xE9);
    EXPECT_EQ(moved, std::string(1, static_cast<char>(ulCount)) + U32(ulCount));
    EXPECT_EQ(share.ReadFile(m_strIni), strIni);
    EXPECT_FALSE(Exists(share.Path(".config/Corvane/other.txt")));
}

// A directory upload makes the folders on the way (harmless) but never the settings file:
// its entry is answered as a ".." entry is.
TEST_F(DaemonOwnFiles, DirectoryUploadCannotMakeTheSettingsFile)
{
    CTestServer server;
    const std::string strIni = share.ReadFile(m_strIni);
    CStbSession viaParent(server.Port());
    ASSERT_EQ(viaParent.BeginDirUp("/", 1000), 0);
    const auto refused = viaParent.DirUpEntry(0x46, 5, "../x.ini");
    CStbSession client(server.Port());
    ASSERT_EQ(client.BeginDirUp("/", 1000), 0);
    EXPECT_EQ(client.DirUpEntry(0x44, 0, ".config"), std::make_pair(0, 0u));
    EXPECT_EQ(client.DirUpEntry(0x44, 0, ".config/Corvane"), std::make_pair(0, 0u));
    EXPECT_EQ(client.DirUpEntry(0x46, 5, m_strIni), refused);
    EXPECT_EQ(client.DirUpBlock(0, "XXXXX"), 0u);
    ASSERT_TRUE(client.Settled(kDirUpProbe));
    EXPECT_EQ(share.ReadFile(m_strIni), strIni);
}

// Beside the settings file its folder works as any other: a file uploaded there comes back.
TEST_F(DaemonOwnFiles, EverythingElseInItsFolderWorksAsBefore)
{
    CTestServer server;
    CStbSession client(server.Port());
    const std::string strBytes = "kept beside the settings";
    const std::string strNew = ".config/Corvane/notes.txt";
    ASSERT_EQ(client.UploadOpen(0x0D, strBytes.size(), strNew), 0);
    EXPECT_EQ(client.UploadBlock(0x0E, 0, strBytes), strBytes.size());
    EXPECT_EQ(client.Ask(0x02, PathPayload(strNew), 0xF2), std::string(1, '\0') + U32(strBytes.size()));
    EXPECT_EQ(client.Fetch(0x03, 0, strBytes.size(), strBytes.size()), strBytes);
}

#ifndef _WIN32
// The settings are written to a file beside them that then takes their place: an upload
// an STB holds open under that name must not become the settings file.
TEST_F(DaemonOwnFiles, UploadUnderTheWritersTemporaryNameNeverBecomesTheSettings)
{
    CTestServer server;
    CStbSession client(server.Port());
    const std::string strTemp = m_strIni + ".tmp." + std::to_string(getpid());
    ASSERT_EQ(client.UploadOpen(0x0D, kEvil.size(), strTemp), 0);  // held until its last block
    ASSERT_EQ(StoreSharedFolder(share.Path("stage")), 0);           // the dialog's OK meanwhile
    EXPECT_EQ(client.UploadBlock(0x0E, 0, kEvil), kEvil.size());
    EXPECT_EQ(IniValue(plat::GetProfilePath(), "Config", "Path"), share.Path("stage"));
}
#endif

// A folder on the way that a local user moved away is known by its name when an STB makes
// it anew: the folders may be made, the settings file in them not.
TEST(DaemonOwnPath, FolderMovedAwayIsKnownByItsName)
{
    CTempShare share{OwnFilesPlace::InShare};
    const std::string strIni = plat::GetProfilePath();
    const std::string strRel = Below(share.Share(), strIni);
    ASSERT_EQ(strRel.rfind(".config/Corvane/", 0), 0u) << strRel;
    std::error_code ec;
    fs::rename(LocalFsPath(share.Path(".config")), LocalFsPath(share.Path("config.old")), ec);
    ASSERT_FALSE(ec) << ec.message();
    plat::CShare s{share.Share()};
    s.pOwnFiles = std::make_shared<const std::vector<std::string>>(std::vector<std::string>{strIni});
    EXPECT_TRUE(IsDaemonOwnPath(s, share.Path(strRel), OwnUse::Open));
    EXPECT_TRUE(IsDaemonOwnPath(s, share.Path("./.config//Corvane/" + strRel.substr(16) + "/"), OwnUse::Open));
    EXPECT_FALSE(IsDaemonOwnPath(s, share.Path(".config"), OwnUse::Open));
    EXPECT_FALSE(IsDaemonOwnPath(s, share.Path(".config/Corvane"), OwnUse::Open));
    EXPECT_TRUE(IsDaemonOwnPath(s, share.Path(".config/Corvane"), OwnUse::Change));
    EXPECT_FALSE(IsDaemonOwnPath(s, share.Path(".config/Corvane/other.txt"), OwnUse::Change));
}

#ifndef _WIN32
// The real daemon sharing the folder that holds its settings and its lock (the home folder
// case): --share says so in one line, an STB cannot plant settings that lead out of the
// shared folder, and a lock folder moved away by a local user cannot be filled anew.
TEST(DaemonOwnFilesEndToEnd, SettingsCannotBePlantedNorTheLockMadeAgain)
{
    CTempShare share;
    CDaemonProcess daemon(share.Root(), "own");
    const uint16_t port = daemon.StartListening({"--headless", "--share", share.Root()});
    ASSERT_NE(port, 0) << daemon.Error() << "\n" << daemon.Err();
    const std::string strIni = share.Root() + "/cfg/Corvane/corvane.ini";
    EXPECT_TRUE(Contains(daemon.Err(), "corvane: the shared folder holds Corvane's settings file " + strIni +
                                           "; STBs cannot reach it\n"))
        << daemon.Err();
    const std::string strStored = ReadLocalFile(strIni);
    ASSERT_TRUE(Contains(strStored, share.Root())) << strStored;

    CStbSession client(port);
    const std::string refused = client.Ask(0x0D, std::string(1, '\x01') + U32(kEvil.size()) + "../x" + '\0', 0xFD);
    EXPECT_EQ(client.Ask(0x0D, std::string(1, '\x01') + U32(kEvil.size()) + "/cfg/Corvane/corvane.ini" + '\0', 0xFD),
              refused);
    EXPECT_EQ(ReadLocalFile(strIni), strStored);
    // The next request is still served from the shared folder, not from "/".
    WriteLocalFile(share.Root() + "/marker.txt", "inside");
    EXPECT_EQ(client.Ask(0x10, PathPayload("/marker.txt"), 0xE0), std::string(1, '\0') + U32(6));

    std::error_code ec;
    fs::rename(share.Root() + "/run", share.Root() + "/run.old", ec);
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_EQ(client.Ask(0x09, PathPayload("/run"), 0xF9), std::string(1, '\0'));
    EXPECT_EQ(client.Ask(0x0D, std::string(1, '\x01') + U32(1) + "/run/CORVANE.lock" + '\0', 0xFD), refused);
    EXPECT_EQ(client.Ask(0x09, PathPayload("/run/CORVANE.lock"), 0xF9), std::string(1, '\x01'));
    EXPECT_FALSE(Exists(share.Root() + "/run/CORVANE.lock"));
    EXPECT_EQ(daemon.Stop(), 0);
}
#endif
