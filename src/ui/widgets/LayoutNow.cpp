#include "ui/widgets/LayoutNow.h"

#include <QLayout>
#include <QWidget>

namespace widgets {

void LayOutNow(QWidget* window) {
    if (window->isVisible()) {
        if (QLayout* layout = window->layout())
            layout->activate();
        return;
    }
    // Tab widgets place their pages only while visible, so go through a show that draws nothing.
    const bool offScreen = window->testAttribute(Qt::WA_DontShowOnScreen);
    window->setAttribute(Qt::WA_DontShowOnScreen, true);
    window->show();
    window->hide();
    window->setAttribute(Qt::WA_DontShowOnScreen, offScreen);
}

} // namespace widgets
