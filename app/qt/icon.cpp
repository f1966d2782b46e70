#include "app/qt/icon.h"

static void LoadResources()
{
    // The resources live in a static library: register them before the first use.
    Q_INIT_RESOURCE(corvane);
}

QIcon CorvaneIcon()
{
    static const bool bLoaded = (LoadResources(), true);
    (void)bLoaded;
    return QIcon(":/corvane.png");
}
