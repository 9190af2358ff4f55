#pragma once
// The program's icon: one design drawn at the sizes the desktop asks for (data/icons).

#include <QIcon>
#include <QPixmap>

// The picture the splash shows beside its text.
QPixmap ApplicationPixmap();
// Every size of the icon, for the window and the application.
QIcon ApplicationIcon();
