#include "ui/widgets/Fonts.h"

#include <QStringList>

namespace widgets {

QFont DialogFont(int pointSize, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Arial"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

} // namespace widgets
