#pragma once
// The small window shown while the cache is read: a picture with a text beside it, on top of
// everything, centred on the screen. It is painted as soon as it is created; while the program
// reads, ShowProgress repaints it with how far the reading has got and lets the user stop it
// (its Cancel button, or Esc).

#include <QElapsedTimer>
#include <QPixmap>
#include <QSplashScreen>
#include <QString>

#include <cstddef>

class QPushButton;

namespace widgets {

class TSplashWindow : public QSplashScreen {
    Q_OBJECT
public:
    TSplashWindow(const QPixmap& picture, const QString& text);

    const QString& Text() const { return FText; }

    // Shows the number of entries read and handles the events that came meanwhile, at most
    // every kProgressIntervalMs; false once the user asked to stop.
    bool ShowProgress(std::size_t entriesRead);
    bool CancelRequested() const { return FCancelRequested; }
    void RequestCancel();

    QPushButton* CancelButton() const { return FCancelButton; }

    static constexpr int kProgressIntervalMs = 50;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // A click on the picture must not hide it, as it would a plain splash screen.
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QString FText;
    QPushButton* FCancelButton;
    QElapsedTimer FSinceShown;
    bool FCancelRequested = false;
};

} // namespace widgets
