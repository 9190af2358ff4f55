#pragma once
// The program's icon, drawn for it (16 x 16, 16 colours).

#include <QIcon>
#include <QPixmap>

QPixmap ApplicationPixmap();
QIcon ApplicationIcon();
