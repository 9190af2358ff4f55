#include "platform/desktop/WindowManager.h"

#include <QWidget>

namespace desktop {

bool IsWindowEnabled(const QWidget* window) {
    return window && window->isEnabled();
}

bool IsWindowVisible(const QWidget* window) {
    return window && window->isVisible();
}

bool IsZoomed(const QWidget* window) {
    return window && window->isMaximized();
}

void SetForegroundWindow(QWidget* window) {
    window->raise();
    window->activateWindow();
}

void RestoreWindow(QWidget* window) {
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
}

void SetFocus(QWidget* window) {
    window->setFocus(Qt::ActiveWindowFocusReason);
}

} // namespace desktop
