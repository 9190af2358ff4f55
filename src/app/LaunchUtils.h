#pragma once
// Opening a document or URL with the desktop's program for it, and bringing a window to the
// front. Neither reports a failure.

#include <string_view>

class QWidget;

// Hands `target` (8-bit text: a URL or a file path) to the desktop's opener and returns at once.
void ShellOpen(std::string_view target);

// Makes `window` the foreground window; with `restore`, a visible window is also restored from
// minimised (a maximised one stays maximised) and focused. A disabled window is left alone.
void ForceForeground(QWidget* window, bool restore);
