// Draws the dialog, fed the status of two STBs (one of them fetching a recording), into a
// PNG file, as the README shows it (docs/dialog.png). scripts/screenshots runs it:
//     corvane_qt_shot OUT.png SETTINGS.ini
// The settings file named is written with the folder shown.
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "app/qt/corvanewindow.h"
#include "app/settings.h"
#include "platform/profile.h"
#include "tests/status_fixture.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: corvane_qt_shot OUT.png SETTINGS.ini\n");
        return 2;
    }
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    plat::SetProfilePath(argv[2]);
    if (StoreShareSetting({"/home/user/Videos", ""}) != 0) {
        fprintf(stderr, "corvane_qt_shot: cannot write %s\n", argv[2]);
        return 1;
    }
    QApplication app(argc, argv);
    CNoServer server;
    CCorvaneWindow window(server, plat::kNoTerminationHandle, [] { return TwoStbsSnapshot(); });
    window.show();
    QApplication::processEvents();
    if (!window.grab().save(argv[1], "PNG")) {
        fprintf(stderr, "corvane_qt_shot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
