#include "app/qt/corvanewindow.h"
#include "app/qt/icon.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <utility>

#include "app/qt/aboutdlg.h"
#include "app/qt/progressdelegate.h"

namespace {

// The columns of the STB list.
enum StbColumn { kColAddress, kColSince, kColDoing, kColProgress, kColumns };

}  // namespace

CCorvaneWindow::CCorvaneWindow(IServerControl& server, plat::TerminationHandle hTermination, StatusSource status)
    : m_Status(std::move(status)), m_hTermination(hTermination)
{
    m_pLogic = std::make_unique<CCorvaneDlg>(*this, server);
    setWindowTitle("Corvane");
    setWindowIcon(CorvaneIcon());
    BuildControls();
    BuildTray();
    if (m_hTermination != plat::kNoTerminationHandle) {
        m_pTermination = new QSocketNotifier(static_cast<qintptr>(m_hTermination), QSocketNotifier::Read, this);
        connect(m_pTermination, &QSocketNotifier::activated, this, [this] {
            if (plat::TakeTerminationRequest(m_hTermination))
                m_pLogic->OnAppExit();
        });
    }
    m_pLogic->OnInitDialog();
    if (m_Status) {
        // Hidden in the tray too: the tooltip tells the status there.
        m_pStatusTimer = new QTimer(this);
        m_pStatusTimer->setInterval(1000);
        connect(m_pStatusTimer, &QTimer::timeout, this, &CCorvaneWindow::RefreshStatus);
        m_pStatusTimer->start();
        RefreshStatus();
    }
}

CCorvaneWindow::~CCorvaneWindow()
{
    if (m_pTray != nullptr)
        m_pTray->hide();  // the tray icon goes with the dialog
}

void CCorvaneWindow::BuildControls()
{
    auto* pGroup = new QGroupBox("Sharing folder", this);
    pGroup->setObjectName("sharingFolder");
    m_pFolder = new QLabel(pGroup);
    m_pFolder->setObjectName("folder");
    m_pFolder->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_pFolder->setTextFormat(Qt::PlainText);
    m_pFolder->setMinimumWidth(360);
    auto* pBrowse = new QPushButton("Browse...", pGroup);
    pBrowse->setObjectName("browse");
    pBrowse->setAutoDefault(false);
    auto* pGroupRow = new QHBoxLayout;
    pGroupRow->addWidget(m_pFolder, 1);
    pGroupRow->addWidget(pBrowse);
    // The line about the daemon's own files in the folder shown.
    m_pShareNote = new QLabel(pGroup);
    m_pShareNote->setObjectName("shareNote");
    m_pShareNote->setTextFormat(Qt::PlainText);
    m_pShareNote->setWordWrap(true);
    m_pShareNote->hide();
    auto* pGroupRows = new QVBoxLayout(pGroup);
    pGroupRows->addLayout(pGroupRow);
    pGroupRows->addWidget(m_pShareNote);

    // The code page of names on the STB, stored with the folder.
    auto* pCharsetLabel = new QLabel("Names on the STB", this);
    m_pCharset = new QComboBox(this);
    m_pCharset->setObjectName("charset");
    m_pCharset->addItem("Unchanged", QString());
    for (const std::string& strName : CharsetChoices())
        m_pCharset->addItem(QString::fromStdString(strName), QString::fromStdString(strName));
    pCharsetLabel->setBuddy(m_pCharset);
    auto* pCharsetRow = new QHBoxLayout;
    pCharsetRow->addWidget(pCharsetLabel);
    pCharsetRow->addWidget(m_pCharset, 1);

    auto* pOk = new QPushButton("OK", this);
    pOk->setObjectName("ok");
    pOk->setDefault(true);
    auto* pCancel = new QPushButton("Cancel", this);
    pCancel->setObjectName("cancel");
    pCancel->setAutoDefault(false);
    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch(1);
    pButtons->addWidget(pOk);
    pButtons->addWidget(pCancel);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(pGroup);
    BuildStatus(pLayout);
    pLayout->addLayout(pCharsetRow);
    pLayout->addLayout(pButtons);
    // The dialog keeps the size its contents need, as the note comes and goes.
    pLayout->setSizeConstraint(QLayout::SetFixedSize);

    connect(pBrowse, &QPushButton::clicked, this, [this] { m_pLogic->OnBrowse(); });
    connect(m_pCharset, &QComboBox::activated, this,
            [this](int nIndex) { m_pLogic->OnCharsetChosen(m_pCharset->itemData(nIndex).toString().toStdString()); });
    connect(pOk, &QPushButton::clicked, this, &CCorvaneWindow::accept);
    connect(pCancel, &QPushButton::clicked, this, &CCorvaneWindow::reject);
}

void CCorvaneWindow::BuildStatus(QVBoxLayout* pLayout)
{
    m_pReach = new QLabel(this);
    m_pReach->setObjectName("reach");
    m_pReach->setTextFormat(Qt::PlainText);
    m_pReach->setTextInteractionFlags(Qt::TextSelectableByMouse);  // an address to copy
    m_pStbs = new QTreeWidget(this);
    m_pStbs->setObjectName("stbs");
    m_pStbs->setColumnCount(kColumns);
    m_pStbs->setHeaderLabels({"STB", "Since", "Doing", "Progress"});
    m_pStbs->setRootIsDecorated(false);
    m_pStbs->setItemsExpandable(false);
    m_pStbs->setUniformRowHeights(true);
    m_pStbs->setSelectionMode(QAbstractItemView::NoSelection);
    m_pStbs->setFocusPolicy(Qt::NoFocus);
    m_pStbs->setItemDelegateForColumn(kColProgress, new CProgressDelegate(m_pStbs));
    QHeaderView* pHeader = m_pStbs->header();
    pHeader->setSectionsMovable(false);
    const QFontMetrics metrics = m_pStbs->fontMetrics();
    pHeader->resizeSection(kColAddress, metrics.horizontalAdvance("255.255.255.255") + 16);
    pHeader->resizeSection(kColSince, qMax(metrics.horizontalAdvance("00:00"), metrics.horizontalAdvance("Since")) + 20);
    pHeader->resizeSection(kColDoing, metrics.horizontalAdvance("receiving folder /Recordings") + 8);
    const int cxProgress = metrics.horizontalAdvance("100 % of 100.0 GB, 100.0 MB/s") + 16;
    int cxAll = cxProgress;
    for (int nCol = kColAddress; nCol < kColProgress; ++nCol)
        cxAll += pHeader->sectionSize(nCol);
    m_pStbs->setMinimumWidth(cxAll + 2 * m_pStbs->frameWidth());
    // The header and four rows (as the delegate makes them), with no STB connected yet.
    m_pStbs->setFixedHeight(pHeader->sizeHint().height() + 4 * (metrics.height() + 10) + 2 * m_pStbs->frameWidth());
    pLayout->addWidget(m_pReach);
    pLayout->addWidget(m_pStbs);
}

void CCorvaneWindow::BuildTray()
{
    m_pTrayMenu = new QMenu("App", this);
    m_pTrayMenu->addAction("&Open...", this, [this] { m_pLogic->OnTrayOpen(); });
    m_pTrayMenu->addSeparator();
    m_pTrayMenu->addAction("&About...", this, [this] { m_pLogic->OnAppAbout(); });
    m_pTrayMenu->addAction("E&xit", this, [this] { m_pLogic->OnAppExit(); });
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_pTray = new QSystemTrayIcon(CorvaneIcon(), this);
    m_pTray->setToolTip("Corvane");
    // The tray host shows this menu on a right click where it draws menus itself.
    m_pTray->setContextMenu(m_pTrayMenu);
    connect(m_pTray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        m_pLogic->OnTrayNotify(reason == QSystemTrayIcon::Trigger ? TrayEvent::LeftButtonUp : TrayEvent::Other);
    });
    m_pTray->show();
}

void CCorvaneWindow::SetFolderText(const std::string& strFolder) { m_pFolder->setText(QString::fromStdString(strFolder)); }

void CCorvaneWindow::SetShareNote(const std::string& strNote)
{
    m_pShareNote->setText(QString::fromStdString(strNote));
    m_pShareNote->setVisible(!strNote.empty());
}

void CCorvaneWindow::SetCharsetChoice(const std::string& strCharset)
{
    const QString str = QString::fromStdString(strCharset);
    int nIndex = m_pCharset->findData(str);
    if (nIndex < 0) {
        // A code page stored by hand stays selectable, so that OK keeps it.
        m_pCharset->addItem(str, str);
        nIndex = m_pCharset->count() - 1;
    }
    m_pCharset->setCurrentIndex(nIndex);
}

void CCorvaneWindow::SetReachLines(const std::vector<std::string>& lines)
{
    QStringList text;
    for (const std::string& strLine : lines)
        text.append(QString::fromStdString(strLine));
    m_pReach->setText(text.join('\n'));
}

void CCorvaneWindow::SetStbCount(size_t nRows)
{
    const int nWant = static_cast<int>(nRows);
    while (m_pStbs->topLevelItemCount() > nWant)
        delete m_pStbs->takeTopLevelItem(m_pStbs->topLevelItemCount() - 1);
    while (m_pStbs->topLevelItemCount() < nWant)
        new QTreeWidgetItem(m_pStbs);
}

void CCorvaneWindow::SetStbRow(size_t nRow, const CStbRow& row)
{
    QTreeWidgetItem* pItem = m_pStbs->topLevelItem(static_cast<int>(nRow));
    if (pItem == nullptr)
        return;
    pItem->setText(kColAddress, QString::fromStdString(row.strAddress));
    pItem->setText(kColSince, QString::fromStdString(row.strSince));
    pItem->setText(kColDoing, QString::fromStdString(row.strDoing));
    pItem->setToolTip(kColDoing, QString::fromStdString(row.strDoing));  // a long path is cut in the cell
    pItem->setText(kColProgress, QString::fromStdString(row.strProgress));
    pItem->setData(kColProgress, kPercentRole, row.nPercent);
}

void CCorvaneWindow::SetTrayTip(const std::string& strTip)
{
    if (m_pTray != nullptr)
        m_pTray->setToolTip(QString::fromStdString(strTip));
}

void CCorvaneWindow::RefreshStatus()
{
    if (m_Status)
        m_pLogic->OnStatus(m_Status());
}

void CCorvaneWindow::ShowDialog()
{
    if (isMinimized())
        return;  // shown where it is: a minimised dialog stays minimised
    show();
    raise();
    activateWindow();
}

void CCorvaneWindow::HideDialog()
{
    // Without a tray icon a hidden dialog could never come back: minimise it instead.
    if (m_pTray == nullptr)
        showMinimized();
    else
        hide();
}

bool CCorvaneWindow::PickFolder(const std::string& strStart, std::string& strChosen)
{
    QString strDir =
        QFileDialog::getExistingDirectory(this, "Select folder to share with STB", QString::fromStdString(strStart));
    if (strDir.isEmpty())
        return false;
    strChosen = strDir.toStdString();
    return true;
}

void CCorvaneWindow::RunAboutBox()
{
    CAboutDlg about(this);
    about.exec();
}

void CCorvaneWindow::ShowTrayMenu() { m_pTrayMenu->popup(QCursor::pos()); }

void CCorvaneWindow::EndDialog()
{
    hide();
    QApplication::quit();
}

void CCorvaneWindow::accept() { m_pLogic->OnOK(); }

void CCorvaneWindow::reject() { m_pLogic->OnCancel(); }

void CCorvaneWindow::closeEvent(QCloseEvent* pEvent)
{
    pEvent->ignore();
    m_pLogic->OnCancel();
}
