// The dialog's window on Qt's offscreen platform: its controls and texts, the tray
// menu, the About box, the buttons reaching the dialog's logic, and the status shown.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QHeaderView>
#include <QTreeWidget>

#include "app/qt/aboutdlg.h"
#include "app/qt/corvanewindow.h"
#include "app/qt/progressdelegate.h"
#include "app/settings.h"
#include "tests/status_fixture.h"
#include "tests/test_util.h"

namespace {

class CCountingServer : public IServerControl {
public:
    void Start() override { ++nStarts; }
    void Stop() override { ++nStops; }
    int nStarts = 0, nStops = 0;
};

template <typename T>
T* Child(QObject& parent, const char* pszName)
{
    T* p = parent.findChild<T*>(pszName);
    EXPECT_NE(p, nullptr) << pszName;
    return p;
}

}  // namespace

TEST(DialogWindow, ShowsTheStoredFolderWithItsControls)
{
    CTempShare share;
    CCountingServer server;
    CCorvaneWindow window(server, -1);
    EXPECT_EQ(window.windowTitle(), "Corvane");
    EXPECT_EQ(Child<QGroupBox>(window, "sharingFolder")->title(), "Sharing folder");
    QLabel* pFolder = Child<QLabel>(window, "folder");
    EXPECT_EQ(pFolder->text().toStdString(), share.Share());
    EXPECT_EQ(pFolder->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(Child<QPushButton>(window, "browse")->text(), "Browse...");
    QPushButton* pOk = Child<QPushButton>(window, "ok");
    EXPECT_EQ(pOk->text(), "OK");
    EXPECT_TRUE(pOk->isDefault());
    EXPECT_EQ(Child<QPushButton>(window, "cancel")->text(), "Cancel");
}

TEST(DialogWindow, OkRestartsTheServerAndCancelShowsTheStoredFolder)
{
    CTempShare share;
    CCountingServer server;
    CCorvaneWindow window(server, -1);
    window.show();
    Child<QPushButton>(window, "ok")->click();
    EXPECT_EQ(server.nStarts, 1);
    EXPECT_TRUE(!window.isVisible() || window.isMinimized());

    window.Logic().m_strFolder = "/somewhere/else";
    window.SetFolderText("/somewhere/else");
    Child<QPushButton>(window, "cancel")->click();
    EXPECT_EQ(Child<QLabel>(window, "folder")->text().toStdString(), share.Share());
    EXPECT_EQ(GetSharedFolder(), share.Share());
}

// A folder that holds the settings file says so under the folder; another says nothing.
TEST(DialogWindow, SaysWhenTheFolderHoldsTheSettingsFile)
{
    CTempShare share{OwnFilesPlace::InShare};
    CCountingServer server;
    CCorvaneWindow window(server, -1);
    window.show();
    QLabel* pNote = Child<QLabel>(window, "shareNote");
    ASSERT_NE(pNote, nullptr);
    EXPECT_TRUE(pNote->isVisible());
    EXPECT_TRUE(pNote->text().endsWith("; STBs cannot reach it.")) << pNote->text().toStdString();
    window.SetShareNote("");
    EXPECT_FALSE(pNote->isVisible());
}

// The row of the STB's code page: the common ones offered after "Unchanged", the choice
// stored with the folder by OK ("Unchanged" as empty), dropped by Cancel.
TEST(DialogWindow, CodePageRowIsStoredByOkAndForgottenByCancel)
{
    CTempShare share;
    CCountingServer server;
    CCorvaneWindow window(server, -1);
    QComboBox* pCharset = Child<QComboBox>(window, "charset");
    ASSERT_NE(pCharset, nullptr);
    bool bLabelled = false;
    for (QLabel* pLabel : window.findChildren<QLabel*>())
        bLabelled = bLabelled || (pLabel->text() == "Names on the STB" && pLabel->buddy() == pCharset);
    EXPECT_TRUE(bLabelled);
    EXPECT_EQ(pCharset->itemText(0), "Unchanged");
    EXPECT_EQ(pCharset->currentIndex(), 0);
    for (const char* psz : {"CP1252", "ISO-8859-1", "CP949", "CP932", "GBK", "BIG5"})
        EXPECT_GE(pCharset->findText(psz), 1) << psz;
    auto choose = [&](const char* psz) {
        const int nIndex = pCharset->findText(psz);
        pCharset->setCurrentIndex(nIndex);
        emit pCharset->activated(nIndex);
    };

    choose("CP949");
    Child<QPushButton>(window, "ok")->click();
    EXPECT_EQ(GetShareSetting().strCharset, "CP949");
    EXPECT_EQ(GetShareSetting().strFolder, share.Share());
    choose("CP932");
    Child<QPushButton>(window, "cancel")->click();
    EXPECT_EQ(pCharset->currentText(), "CP949");
    EXPECT_EQ(GetShareSetting().strCharset, "CP949");
    choose("Unchanged");
    Child<QPushButton>(window, "ok")->click();
    EXPECT_EQ(GetShareSetting().strCharset, "");

    // A code page stored by other means is shown, and kept by OK.
    ASSERT_EQ(StoreShareSetting({share.Share(), "EUC-KR"}), 0);
    CCorvaneWindow again(server, -1);
    EXPECT_EQ(Child<QComboBox>(again, "charset")->currentText(), "EUC-KR");
    Child<QPushButton>(again, "ok")->click();
    EXPECT_EQ(GetShareSetting().strCharset, "EUC-KR");
}

TEST(DialogWindow, TrayMenuHasOpenAboutAndExit)
{
    CTempShare share;
    CCountingServer server;
    CCorvaneWindow window(server, -1);
    QMenu* pMenu = window.findChild<QMenu*>();
    ASSERT_NE(pMenu, nullptr);
    EXPECT_EQ(pMenu->title(), "App");
    QList<QAction*> actions = pMenu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), "&Open...");
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), "&About...");
    EXPECT_EQ(actions[3]->text(), "E&xit");
    actions[3]->trigger();
    EXPECT_EQ(server.nStops, 1);
    EXPECT_FALSE(window.isVisible());
}

// Fed a status with two STBs, one of them fetching a recording: the address line, a row
// for each STB, and a bar drawn over the running transfer's progress, none for the idle
// one; a later status reaches the list at the next refresh.
TEST(DialogWindow, StbListShowsARunningTransferWithItsBar)
{
    CTempShare share;
    CCountingServer server;
    CStatusSnapshot snap = TwoStbsSnapshot();
    CCorvaneWindow window(server, -1, [&snap] { return snap; });
    window.show();
    EXPECT_EQ(Child<QLabel>(window, "reach")->text(), "STBs reach this computer at 192.168.1.23 (port 2008)");
    QTreeWidget* pList = Child<QTreeWidget>(window, "stbs");
    ASSERT_NE(pList, nullptr);
    ASSERT_EQ(pList->topLevelItemCount(), 2);
    QTreeWidgetItem* pBusy = pList->topLevelItem(0);
    EXPECT_EQ(pBusy->text(0), "192.168.1.40");
    EXPECT_EQ(pBusy->text(2), "sending /Recordings/rec.ts");
    EXPECT_EQ(pBusy->text(3), "43 % of 2.8 GB, 30.1 MB/s");
    EXPECT_EQ(pBusy->data(3, kPercentRole).toInt(), 43);
    EXPECT_EQ(pList->topLevelItem(1)->text(2), "idle");

    // The bar: how far, in percent of the cell's width, the highlight's hue reaches across
    // the progress cell (the text on the bar leaves some of its pixels, never a whole
    // column of them); the idle STB's cell has none of it.
    const int nHue = pList->palette().color(QPalette::Highlight).hsvHue();
    auto barReach = [&](int nRow) {
        const QImage image = pList->viewport()->grab().toImage();
        const QRect rcRow = pList->visualItemRect(pList->topLevelItem(nRow));
        const QRect rc(pList->header()->sectionPosition(3), rcRow.top(), pList->header()->sectionSize(3),
                       rcRow.height());
        const qreal dpr = image.devicePixelRatio();
        int nColumns = 0;
        for (int x = rc.left(); x <= rc.right(); ++x) {
            bool bBar = false;
            for (int y = rc.top(); y <= rc.bottom() && !bBar; ++y) {
                const QColor colour = image.pixelColor(QPoint(x, y) * dpr);
                bBar = colour.hsvSaturation() > 80 && std::abs(colour.hsvHue() - nHue) <= 12;
            }
            nColumns += bBar ? 1 : 0;
        }
        return 100 * nColumns / rc.width();
    };
    EXPECT_NEAR(barReach(0), 43, 4);
    EXPECT_EQ(barReach(1), 0);

    snap.stbs.pop_back();
    snap.stbs[0].activity.ullDone = snap.stbs[0].activity.ullTotal;
    window.RefreshStatus();
    ASSERT_EQ(pList->topLevelItemCount(), 1);
    EXPECT_EQ(pList->topLevelItem(0)->data(3, kPercentRole).toInt(), 100);
    EXPECT_GE(barReach(0), 96);
}

TEST(DialogWindow, AboutBoxNamesTheVersion)
{
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About Corvane");
    QLabel* pText = about.findChild<QLabel*>("aboutText");
    ASSERT_NE(pText, nullptr);
    EXPECT_EQ(pText->text(), "Corvane, Version 3.04");
    QLabel* pIcon = about.findChild<QLabel*>("aboutIcon");
    ASSERT_NE(pIcon, nullptr);
    EXPECT_FALSE(pIcon->pixmap().isNull());
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // No display is needed: the window is drawn into memory.
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
