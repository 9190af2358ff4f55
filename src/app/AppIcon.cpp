#include "app/AppIcon.h"

#include <QString>

namespace {

constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};
constexpr int kSplashPictureSize = 48;

QString IconResource(int size) {
    return QStringLiteral(":/icons/zezuvur-%1.png").arg(size);
}

} // namespace

QPixmap ApplicationPixmap() {
    return QPixmap(IconResource(kSplashPictureSize));
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (const int size : kIconSizes)
        icon.addFile(IconResource(size), QSize(size, size));
    return icon;
}
