// The main dialog's logic, driven through stand-ins for the window and the streaming
// server: folder shown versus folder stored, OK, Cancel, Browse, the tray, About, Exit.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/corvanedlg.h"
#include "app/settings.h"
#include "platform/profile.h"
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

    std::string strText = "\x01untouched";
    std::string strShareNote = "\x01untouched";
    std::string strPick;  // what the picker returns; empty: the user cancels
    std::string strPickerStart;
    int nShown = 0, nHidden = 0, nAbout = 0, nMenus = 0;
    bool bEnded = false;
    std::function<void()> onAbout;
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
