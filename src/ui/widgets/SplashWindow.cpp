#include "ui/widgets/SplashWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

namespace widgets {
namespace {

constexpr int kPadding = 12;
constexpr int kMaxTextWidth = 260;
// Room under the text for the progress line and the Cancel button.
constexpr int kFooterHeight = 36;

// The picture at the left, the text word-wrapped and centred beside it, in a thin frame.
QPixmap Compose(const QPixmap& picture, const QString& text) {
    const QFont font = QApplication::font();
    const QFontMetrics metrics(font);
    const QRect textBounds = metrics.boundingRect(QRect(0, 0, kMaxTextWidth, 1000),
                                                  Qt::AlignCenter | Qt::TextWordWrap, text);
    const int height =
        std::max(picture.height(), textBounds.height()) + 2 * kPadding + kFooterHeight;
    const int width = picture.width() + textBounds.width() + 3 * kPadding;
    QPixmap canvas(width, height);
    canvas.fill(QApplication::palette().color(QPalette::Window));
    QPainter painter(&canvas);
    painter.drawPixmap(kPadding, (height - kFooterHeight - picture.height()) / 2, picture);
    painter.setFont(font);
    painter.setPen(QApplication::palette().color(QPalette::WindowText));
    const QRect textArea(picture.width() + 2 * kPadding, kPadding, textBounds.width(),
                         height - 2 * kPadding - kFooterHeight);
    painter.drawText(textArea, Qt::AlignCenter | Qt::TextWordWrap, text);
    painter.setPen(QApplication::palette().color(QPalette::Dark));
    painter.drawRect(0, 0, width - 1, height - 1);
    return canvas;
}

} // namespace

TSplashWindow::TSplashWindow(const QPixmap& picture, const QString& text)
    : QSplashScreen(Compose(picture, text), Qt::WindowStaysOnTopHint), FText(text),
      FCancelButton(new QPushButton(QStringLiteral("Cancel"), this)) {
    FCancelButton->setObjectName(QStringLiteral("btnCancel"));
    FCancelButton->adjustSize();
    FCancelButton->move(width() - FCancelButton->width() - kPadding,
                        height() - FCancelButton->height() - kPadding / 2);
    connect(FCancelButton, &QPushButton::clicked, this, &TSplashWindow::RequestCancel);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    show();
    activateWindow();
    repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    FSinceShown.start();
}

bool TSplashWindow::ShowProgress(std::size_t entriesRead) {
    if (FSinceShown.elapsed() < kProgressIntervalMs)
        return !FCancelRequested;
    showMessage(QStringLiteral("%1 entries read")
                    .arg(QLocale().toString(static_cast<qulonglong>(entriesRead))),
                Qt::AlignBottom | Qt::AlignLeft);
    QApplication::processEvents();
    FSinceShown.start();
    return !FCancelRequested;
}

void TSplashWindow::RequestCancel() {
    FCancelRequested = true;
    FCancelButton->setEnabled(false);
    showMessage(QStringLiteral("Stopping..."), Qt::AlignBottom | Qt::AlignLeft);
}

void TSplashWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        RequestCancel();
        event->accept();
        return;
    }
    QSplashScreen::keyPressEvent(event);
}

void TSplashWindow::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void TSplashWindow::closeEvent(QCloseEvent* event) {
    // Closed by the window manager while the reading runs: that is a request to stop.
    if (!FCancelRequested && event->spontaneous())
        RequestCancel();
    QSplashScreen::closeEvent(event);
}

} // namespace widgets
