#include "ui/ProfileLine.h"

#include "platform/PathMapper.h"

#include <QFontMetrics>

TProfileLine::TProfileLine(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("lblProfile"));
    const std::string folder = platform::CurrentProfile().hostFolder.string();
    FFullText = QStringLiteral("Profile: ") +
                QString::fromLocal8Bit(folder.data(), static_cast<qsizetype>(folder.size()));
    setToolTip(FFullText);
    setContentsMargins(4, 1, 4, 1);
    setMinimumWidth(1); // the text is shortened, never the window widened
    Elide();
}

void TProfileLine::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void TProfileLine::Elide() {
    const int room = contentsRect().width();
    setText(room > 0 ? fontMetrics().elidedText(FFullText, Qt::ElideMiddle, room) : FFullText);
}
