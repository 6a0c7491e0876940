// The program's icon, the same drawing that the desktop entry names, at every size it is drawn in.
#pragma once

#include <QIcon>
#include <QList>

// The sizes the icon is drawn in, smallest first.
QList<int> AppIconSizes();

QIcon AppIcon();
