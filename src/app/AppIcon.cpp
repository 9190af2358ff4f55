#include "app/AppIcon.h"

namespace {
#include "app/zezuvur.xpm"
}

QPixmap ApplicationPixmap() {
    return QPixmap(zezuvur_xpm);
}

QIcon ApplicationIcon() {
    return QIcon(ApplicationPixmap());
}
