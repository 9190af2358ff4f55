#include "app/LaunchUtils.h"

#include "platform/desktop/DocumentOpener.h"

#include <QWidget>

void ShellOpen(std::string_view target) {
    desktop::OpenDocument(target);
}

void ForceForeground(QWidget* window, bool restore) {
    if (window == nullptr || !window->isEnabled())
        return;
    window->raise();
    window->activateWindow();
    if (!restore || !window->isVisible())
        return;
    if (!window->isMaximized() && window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->setFocus(Qt::ActiveWindowFocusReason);
}
