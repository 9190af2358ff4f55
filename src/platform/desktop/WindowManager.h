#pragma once
// The window manager's part in bringing a top-level window to the front, on Qt's window
// activation.

class QWidget;

namespace desktop {

bool IsWindowEnabled(const QWidget* window);
bool IsWindowVisible(const QWidget* window);
bool IsZoomed(const QWidget* window);
// Asks for the window to become the active, front-most window.
void SetForegroundWindow(QWidget* window);
// Back from minimised to its last size; a normal window keeps its size, a maximised one stays.
void RestoreWindow(QWidget* window);
void SetFocus(QWidget* window);

} // namespace desktop
