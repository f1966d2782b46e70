// The main dialog's logic, driven through stand-ins for the window and the streaming
// server: folder shown versus folder stored, OK, Cancel, Browse, the tray, About, Exit,
// and the status it shows (addresses, the STB list, the tray's tooltip).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/corvanedlg.h"
#include "app/settings.h"
#include "app/status/statustext.h"
#include "platform/profile.h"
#include "status_fixture.h"
#include "test_util.h"

namespace {

class CFakeWindow : public IDlgWindow {
public:
    void SetFolderText(const std::string& strFolder) override { strText = strFolder; }
    void SetShareNote(const std::string& strNote) override { strShareNote = strNote; }
    void ShowDialog() override { ++nShown; }
    void HideDialog() override { ++nHidden; }
    bool PickFolder(const std::string& strStart, std::string& strChosen) override
    {
        strPickerStart = strStart;
        if (strPick.empty())
            return false;
        strChosen = strPick;
        return true;
    }
    void RunAboutBox() override
    {
        ++nAbout;
        if (onAbout)
            onAbout();
    }
    void ShowTrayMenu() override { ++nMenus; }
    void EndDialog() override { bEnded = true; }
    void SetReachLines(const std::vector<std::string>& lines) override
    {
        arrReach = lines;
        ++nReachSets;
    }
    void SetStbCount(size_t nRows) override
    {
        arrRows.resize(nRows);
        ++nCountSets;
    }
    void SetStbRow(size_t nRow, const CStbRow& row) override
    {
        if (nRow >= arrRows.size()) {
            ADD_FAILURE() << "row " << nRow << " of " << arrRows.size();
            return;
        }
        arrRows[nRow] = row;
        arrRowsSet.push_back(nRow);
    }
    void SetTrayTip(const std::string& strTipShown) override
    {
        strTip = strTipShown;
        ++nTipSets;
    }

    std::string strText = "\x01untouched";
    std::string strShareNote = "\x01untouched";
    std::string strPick;  // what the picker returns; empty: the user cancels
    std::string strPickerStart;
    int nShown = 0, nHidden = 0, nAbout = 0, nMenus = 0;
    bool bEnded = false;
    std::function<void()> onAbout;
    // The status part.
    std::vector<std::string> arrReach;
    std::vector<CStbRow> arrRows;
    std::vector<size_t> arrRowsSet;  // the rows SetStbRow was given, in order
    std::string strTip;
    int nReachSets = 0, nCountSets = 0, nTipSets = 0;
};

class CFakeServer : public IServerControl {
public:
    void Start() override { ++nStarts; }
    void Stop() override { ++nStops; }
    int nStarts = 0, nStops = 0;
};

// The settings file's identity: every store replaces the file, so a new inode means a write.
ino_t SettingsInode()
{
    struct stat st;
    return stat(plat::GetProfilePath().c_str(), &st) == 0 ? st.st_ino : 0;
}

// Each test starts with the temporary folder stored as the shared folder and a dialog
// made over the stand-ins.
class MainDialog : public ::testing::Test {
protected:
    CTempShare share;
    CFakeWindow window;
    CFakeServer server;
    CCorvaneDlg dlg{window, server};
};

}  // namespace

TEST_F(MainDialog, NothingStoredShowsAnEmptyFolderAndPickerStartsEmpty)
{
    ASSERT_EQ(StoreSharedFolder(""), 0);
    CCorvaneDlg fresh(window, server);  // a dialog reads the stored folder when it is made
    fresh.OnInitDialog();
    EXPECT_EQ(window.strText, "");
    fresh.OnBrowse();
    EXPECT_EQ(window.strPickerStart, "");
    EXPECT_EQ(window.strText, "");  // cancelled picker: nothing changes
}

TEST_F(MainDialog, BrowseThenCancelKeepsTheStoredFolder)
{
    dlg.OnInitDialog();
    EXPECT_EQ(window.strText, share.Share());

    window.strPick = share.Root() + "/other/";
    dlg.OnBrowse();
    EXPECT_EQ(window.strPickerStart, share.Share());  // the picker opens on the folder shown
    EXPECT_EQ(window.strText, share.Root() + "/other");
    EXPECT_EQ(GetSharedFolder(), share.Share());  // Browse alone stores nothing

    dlg.OnCancel();
    EXPECT_EQ(window.strText, share.Share());
    EXPECT_EQ(dlg.m_strFolder, share.Share());
    EXPECT_EQ(GetSharedFolder(), share.Share());
    EXPECT_EQ(window.nHidden, 1);
    EXPECT_EQ(server.nStarts, 0);
}

// A folder is shown, and stored by OK, without trailing separators; a root keeps its own
// ("/", on Windows "C:\").
TEST_F(MainDialog, PickedFolderLosesTrailingSeparatorsButARootKeepsIts)
{
    std::vector<std::pair<std::string, std::string>> cases{{"/", "/"}, {share.Root() + "/other//", share.Root() + "/other"}};
#ifdef _WIN32
    cases.insert(cases.end(), {{"C:\\", "C:\\"}, {"C:/", "C:/"}, {share.Root() + "\\other\\", share.Root() + "\\other"}});
#endif
    for (const auto& [pick, shown] : cases) {
        SCOPED_TRACE(pick);
        window.strPick = pick;
        dlg.OnBrowse();
        EXPECT_EQ(window.strText, shown);
        dlg.OnOK();
        EXPECT_EQ(GetSharedFolder(), shown);
    }
}

TEST_F(MainDialog, OkStoresAChangedFolderAndRestartsTheServerOnEveryPress)
{
#ifdef _WIN32
    GTEST_SKIP() << "tells an unwritten settings file by its inode; Windows keeps the settings in the registry";
#endif
    dlg.OnInitDialog();
    window.strPick = share.Root() + "/movies";
    dlg.OnBrowse();
    dlg.OnOK();
    EXPECT_EQ(GetSharedFolder(), share.Root() + "/movies");
    EXPECT_EQ(server.nStarts, 1);
    EXPECT_EQ(window.nHidden, 1);

    const ino_t before = SettingsInode();
    ASSERT_NE(before, 0u);
    dlg.OnOK();
    EXPECT_EQ(SettingsInode(), before);  // unchanged folder: nothing written
    EXPECT_EQ(server.nStarts, 2);        // but the server is restarted all the same
    EXPECT_EQ(window.nHidden, 2);
}

TEST_F(MainDialog, TrayShowsTheDialogAndOpensTheMenu)
{
    dlg.OnTrayNotify(TrayEvent::LeftButtonUp);
    dlg.OnTrayNotify(TrayEvent::Other);
    dlg.OnTrayOpen();
    dlg.OnTrayNotify(TrayEvent::RightButtonUp);
    EXPECT_EQ(window.nShown, 2);
    EXPECT_EQ(window.nMenus, 1);
}

TEST_F(MainDialog, SecondAboutWhileOneIsOpenDoesNothing)
{
    window.onAbout = [&] { dlg.OnAppAbout(); };  // the tray menu used again while the box is up
    dlg.OnAppAbout();
    EXPECT_EQ(window.nAbout, 1);
    EXPECT_FALSE(dlg.m_bAboutOpen);
    window.onAbout = nullptr;
    dlg.OnAppAbout();  // once closed, the box opens again
    EXPECT_EQ(window.nAbout, 2);
}

TEST_F(MainDialog, ExitStopsTheServerEndsAndDropsAnUnconfirmedFolder)
{
    window.strPick = share.Root() + "/unconfirmed";
    dlg.OnBrowse();
    dlg.OnAppExit();
    EXPECT_EQ(server.nStops, 1);
    EXPECT_EQ(server.nStarts, 0);
    EXPECT_TRUE(window.bEnded);
    EXPECT_EQ(GetSharedFolder(), share.Share());
}

// A folder that holds the settings file in use (a home folder) is shown with one line that
// says STBs cannot reach the file; any other folder without it.
TEST_F(MainDialog, FolderHoldingTheSettingsFileIsShownWithOneLine)
{
#ifdef _WIN32
    // The registry is no file a folder could hold: the settings file --config names.
    struct CNamedSettings {
        explicit CNamedSettings(const std::string& strFile) { plat::SetProfilePath(strFile); }
        ~CNamedSettings() { plat::SetProfilePath(""); }
    } named(share.Root() + "/cfg/Corvane/corvane.ini");
    std::filesystem::create_directories(LocalFsPath(share.Root() + "/cfg/Corvane"));
    ASSERT_EQ(StoreSharedFolder(share.Share()), 0);
#endif
    dlg.OnInitDialog();
    EXPECT_EQ(window.strShareNote, "");
    window.strPick = share.Root();  // holds cfg/, the settings folder
    dlg.OnBrowse();
    EXPECT_EQ(window.strShareNote, "The shared folder holds Corvane's settings file " + plat::GetProfilePath() +
                                       "; STBs cannot reach it.");
    dlg.OnCancel();
    EXPECT_EQ(window.strText, share.Share());
    EXPECT_EQ(window.strShareNote, "");
}

namespace {

CStbStatus Stb(StbActivity eActivity, const char* pszPath, uint64_t ullDone, uint64_t ullTotal, uint64_t ullRate)
{
    CStbStatus stb;
    stb.ulPeerAddr = 0xC0A80128;  // 192.168.1.40
    stb.llSince = 1765310400;
    stb.activity.eActivity = eActivity;
    stb.activity.strPath = pszPath;
    stb.activity.ullDone = ullDone;
    stb.activity.ullTotal = ullTotal;
    stb.ullRate = ullRate;
    return stb;
}

}  // namespace

// Each kind of work as its row says it: the words, the bytes against the total the protocol
// announced, the rate, and a bar only where there is a total to measure against.
TEST_F(MainDialog, StbRowSaysWhatTheStbDoesAndHowFarItHasCome)
{
    struct CCase {
        CStbStatus stb;
        const char* pszDoing;
        const char* pszProgress;
        int nPercent;
    };
    const CCase aCases[] = {
        // A finished transfer leaves its path and total behind; idle shows neither.
        {Stb(StbActivity::Idle, "/rec.ts", 100, 100, 0), "idle", "", -1},
        {Stb(StbActivity::Listing, "/Films", 0, 0, 0), "listing /Films", "", -1},
        {Stb(StbActivity::Downloading, "/Recordings/rec.ts", 1'204'000'000, 2'800'000'000, 30'100'000),
         "sending /Recordings/rec.ts", "43 % of 2.8 GB, 30.1 MB/s", 43},
        {Stb(StbActivity::Uploading, "/up.ts", 100, 100, 0), "receiving /up.ts", "100 % of 100 B", 100},
        {Stb(StbActivity::Uploading, "/new.ts", 0, 5000, 0), "receiving /new.ts", "0 % of 5.0 KB", 0},
        // A folder whose total is not known yet: bytes and rate, no bar.
        {Stb(StbActivity::DirDownload, "/Films/", 5'000'000, 0, 1'000'000), "sending folder /Films/",
         "5.0 MB, 1.0 MB/s", -1},
        {Stb(StbActivity::Copying, "/a.ts", 0, 0, 2000), "copying /a.ts", "2.0 KB/s", -1},
    };
    CStatusSnapshot snap;
    for (const CCase& c : aCases)
        snap.stbs.push_back(c.stb);
    dlg.OnStatus(snap);
    ASSERT_EQ(window.arrRows.size(), std::size(aCases));
    for (size_t i = 0; i < std::size(aCases); ++i) {
        SCOPED_TRACE(aCases[i].pszDoing);
        const CStbRow& row = window.arrRows[i];
        EXPECT_EQ(row.strAddress, "192.168.1.40");
        EXPECT_EQ(row.strSince, ClockText(1765310400).substr(0, 5));
        EXPECT_EQ(row.strDoing, aCases[i].pszDoing);
        EXPECT_EQ(row.strProgress, aCases[i].pszProgress);
        EXPECT_EQ(row.nPercent, aCases[i].nPercent);
    }
}

// One line for each address the daemon listens on; a computer with loopback alone gets
// one line that says STBs cannot reach it yet.
TEST_F(MainDialog, ReachLinesNameEachAddressOrSayThereIsNone)
{
    struct CCase {
        std::vector<uint32_t> addrs;
        uint16_t usPort;
        std::vector<std::string> lines;
    };
    const CCase aCases[] = {
        {{0xC0A80117}, 2008, {"STBs reach this computer at 192.168.1.23 (port 2008)"}},
        {{0xC0A80117, 0x0A000005},
         2010,
         {"STBs reach this computer at 192.168.1.23 (port 2010)", "STBs reach this computer at 10.0.0.5 (port 2010)"}},
        {{}, 2008, {"STBs cannot reach this computer yet: it has no network address but loopback (port 2008)"}},
    };
    for (const CCase& c : aCases) {
        CFakeWindow fresh;
        CCorvaneDlg logic(fresh, server);
        CStatusSnapshot snap;
        snap.addresses = c.addrs;
        snap.usPort = c.usPort;
        logic.OnStatus(snap);
        EXPECT_EQ(fresh.arrReach, c.lines);
        EXPECT_TRUE(fresh.arrRows.empty());
        EXPECT_EQ(fresh.nCountSets, 1);  // the empty list is shown too
        EXPECT_EQ(fresh.strTip, "Corvane: no STB connected");
    }
}

// The window is redrawn only where the status changed: the same status twice draws
// nothing the second time, a transfer's progress redraws its own row and the tooltip, an
// STB that leaves shortens the list.
TEST_F(MainDialog, StatusRedrawsOnlyWhatChanged)
{
    CStatusSnapshot snap = TwoStbsSnapshot();
    dlg.OnStatus(snap);
    EXPECT_EQ(window.arrReach, std::vector<std::string>{"STBs reach this computer at 192.168.1.23 (port 2008)"});
    ASSERT_EQ(window.arrRows.size(), 2u);
    EXPECT_EQ(window.arrRows[0].nPercent, 43);
    EXPECT_EQ(window.arrRows[1].strAddress, "192.168.1.41");
    EXPECT_EQ(window.strTip, "Corvane: 2 STBs, sending rec.ts 43 %");
    EXPECT_EQ(window.arrRowsSet, (std::vector<size_t>{0, 1}));

    snap.llNow += 1;  // a second later, nothing moved
    dlg.OnStatus(snap);
    EXPECT_EQ(window.nReachSets, 1);
    EXPECT_EQ(window.nCountSets, 1);
    EXPECT_EQ(window.arrRowsSet.size(), 2u);
    EXPECT_EQ(window.nTipSets, 1);

    snap.stbs[0].activity.ullDone = 1'260'000'000;
    dlg.OnStatus(snap);
    EXPECT_EQ(window.arrRowsSet, (std::vector<size_t>{0, 1, 0}));
    EXPECT_EQ(window.arrRows[0].nPercent, 45);
    EXPECT_EQ(window.strTip, "Corvane: 2 STBs, sending rec.ts 45 %");
    EXPECT_EQ(window.nCountSets, 1);
    EXPECT_EQ(window.nReachSets, 1);

    snap.stbs.erase(snap.stbs.begin());  // the busy STB leaves; the idle one moves up
    dlg.OnStatus(snap);
    ASSERT_EQ(window.arrRows.size(), 1u);
    EXPECT_EQ(window.nCountSets, 2);
    EXPECT_EQ(window.arrRows[0].strAddress, "192.168.1.41");
    EXPECT_EQ(window.arrRows[0].strDoing, "idle");
    EXPECT_EQ(window.strTip, "Corvane: 1 STB");

    snap.stbs.clear();
    dlg.OnStatus(snap);
    EXPECT_TRUE(window.arrRows.empty());
    EXPECT_EQ(window.strTip, "Corvane: no STB connected");
    EXPECT_EQ(window.nReachSets, 1);
}
