#pragma once
// What the window does with an exception that escapes one of its event handlers: it shows the
// standard error box (the message, the application's title, an error icon, OK) and goes on.
// Qt does not let exceptions cross its event loop, so every handler runs through RunReporting.

#include <QString>

#include <functional>

namespace desktop {

// The application's title, the caption of its message boxes.
extern const char* const kApplicationTitle;

// Shows the error box; tests replace it so that nothing blocks.
using ErrorBoxFunction = std::function<void(const QString& caption, const QString& message)>;
ErrorBoxFunction SetErrorBoxFunction(ErrorBoxFunction function); // null: the standard box

void ShowErrorBox(const QString& message);

// Runs `handler`; an exception it throws is shown in the error box and goes no further.
void RunReporting(const std::function<void()>& handler);

} // namespace desktop
