#include "app/qt/aboutdlg.h"
#include "app/qt/icon.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "corvane_version.h"

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle("About Corvane");
    auto* pIcon = new QLabel(this);
    pIcon->setObjectName("aboutIcon");
    pIcon->setPixmap(CorvaneIcon().pixmap(32, 32));
    auto* pText = new QLabel("Corvane, Version " CORVANE_VERSION, this);
    pText->setObjectName("aboutText");
    pText->setTextFormat(Qt::PlainText);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* pRow = new QHBoxLayout;
    pRow->addWidget(pIcon);
    pRow->addSpacing(12);
    pRow->addWidget(pText, 1);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pRow);
    pLayout->addWidget(pButtons);
    setFixedSize(sizeHint());
}
