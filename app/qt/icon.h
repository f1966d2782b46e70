// The application icon, from the program's own resources.
#pragma once

#include <QIcon>

QIcon CorvaneIcon();
