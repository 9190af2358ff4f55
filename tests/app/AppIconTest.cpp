#include "app/AppIcon.h"

#include "ui/FrameTestSupport.h"

#include <gtest/gtest.h>

// The icon comes from resources built into the program: a size left out of them, or resources
// that never reach the binary, would leave the window and the splash without a picture.
TEST(AppIcon, EverySizeIsDrawnAndTheSplashHasAPicture) {
    const QIcon icon = ApplicationIcon();
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QList<QSize> sizes = icon.availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
        EXPECT_EQ(icon.pixmap(QSize(size, size)).size(), QSize(size, size)) << size;
    }
    const QPixmap splashPicture = ApplicationPixmap();
    ASSERT_FALSE(splashPicture.isNull());
    EXPECT_EQ(splashPicture.size(), QSize(48, 48));
    EXPECT_TRUE(splashPicture.hasAlphaChannel());
}
