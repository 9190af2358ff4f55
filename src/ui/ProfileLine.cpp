#include "ui/ProfileLine.h"

#include "platform/PathMapper.h"

#include <QFontMetrics>

TProfileLine::TProfileLine(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("lblProfile"));
    const std::string folder = platform::CurrentProfile().hostFolder.string();
    FFullText = QStringLiteral("Profile: ") +
                QString::fromLocal8Bit(folder.data(), static_cast<qsizetype>(folder.size()));
    setToolTip(FFullText);
    setFrameStyle(QFrame::Panel | QFrame::Sunken); // a status line, apart from the counts above
    setContentsMargins(2, 0, 2, 0);
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
