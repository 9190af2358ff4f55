#pragma once
// The small window shown while the cache is read: a picture with a text beside it, on top of
// everything, centred on the screen. It is painted as soon as it is created, since no event
// loop runs while the program reads.

#include <QPixmap>
#include <QSplashScreen>
#include <QString>

namespace widgets {

class TSplashWindow : public QSplashScreen {
    Q_OBJECT
public:
    TSplashWindow(const QPixmap& picture, const QString& text);

    const QString& Text() const { return FText; }

private:
    QString FText;
};

} // namespace widgets
