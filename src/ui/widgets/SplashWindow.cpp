#include "ui/widgets/SplashWindow.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QScreen>

namespace widgets {
namespace {

constexpr int kPadding = 12;
constexpr int kMaxTextWidth = 260;

// The picture at the left, the text word-wrapped and centred beside it, in a thin frame.
QPixmap Compose(const QPixmap& picture, const QString& text) {
    const QFont font = QApplication::font();
    const QFontMetrics metrics(font);
    const QRect textBounds = metrics.boundingRect(QRect(0, 0, kMaxTextWidth, 1000),
                                                  Qt::AlignCenter | Qt::TextWordWrap, text);
    const int height = std::max(picture.height(), textBounds.height()) + 2 * kPadding;
    const int width = picture.width() + textBounds.width() + 3 * kPadding;
    QPixmap canvas(width, height);
    canvas.fill(QApplication::palette().color(QPalette::Window));
    QPainter painter(&canvas);
    painter.drawPixmap(kPadding, (height - picture.height()) / 2, picture);
    painter.setFont(font);
    painter.setPen(QApplication::palette().color(QPalette::WindowText));
    const QRect textArea(picture.width() + 2 * kPadding, kPadding, textBounds.width(),
                         height - 2 * kPadding);
    painter.drawText(textArea, Qt::AlignCenter | Qt::TextWordWrap, text);
    painter.setPen(QApplication::palette().color(QPalette::Dark));
    painter.drawRect(0, 0, width - 1, height - 1);
    return canvas;
}

} // namespace

TSplashWindow::TSplashWindow(const QPixmap& picture, const QString& text)
    : QSplashScreen(Compose(picture, text), Qt::WindowStaysOnTopHint), FText(text) {
    setEnabled(false); // no input while it stands
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    show();
    repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace widgets
