#include "ui/ProfileLine.h"

#include "platform/PathMapper.h"
#include "platform/TextEscape.h"

#include <QFontMetrics>

TProfileLine::TProfileLine(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("lblProfile"));
    // The folder's name comes from the disk being examined: shown as plain text, with control
    // characters escaped, never interpreted as markup.
    const std::string folder =
        platform::EscapeControlCharacters(platform::CurrentProfile().hostFolder.string());
    FFullText = QStringLiteral("Profile: ") +
                QString::fromLocal8Bit(folder.data(), static_cast<qsizetype>(folder.size()));
    setTextFormat(Qt::PlainText);
    setToolTip(QStringLiteral("<qt>%1</qt>").arg(FFullText.toHtmlEscaped()));
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
