#include "app/LaunchUtils.h"

#include "platform/desktop/DocumentOpener.h"
#include "platform/desktop/WindowManager.h"

void ShellOpen(std::string_view target) {
    desktop::OpenDocument(target);
}

void ForceForeground(QWidget* window, bool restore) {
    if (!desktop::IsWindowEnabled(window))
        return;
    desktop::SetForegroundWindow(window);
    if (!restore || !desktop::IsWindowVisible(window))
        return;
    if (!desktop::IsZoomed(window))
        desktop::RestoreWindow(window);
    desktop::SetFocus(window);
}
