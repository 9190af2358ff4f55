#pragma once
// The desktop's actions for one cached file, offered as a context menu: open it with its default
// application, open it with each other application registered for its type, show it in its
// folder, copy its path. Applications are found and started through GIO with the file as a
// GFile. A file whose type runs code gets only harmless actions: open it as plain text in the
// text editor, show it in its folder, copy its path. A file that is missing, or lies outside the
// profile once links are resolved, only has its path to copy.

#include <QPoint>

#include <functional>
#include <string_view>

class QAction;
class QMenu;
class QWidget;

namespace desktop {

// Shows the menu for the cached file `windowsPath` at `clientPos` (client coordinates of
// `owner`), runs the chosen action and returns whether one ran. A path that does not map onto
// this host shows nothing.
bool ShowFileContextMenu(QWidget* owner, std::string_view windowsPath, QPoint clientPos);

// Lets the user choose from `menu` at `globalPos`; null when nothing was chosen. Tests replace
// it so that no menu blocks.
using MenuExecFunction = std::function<QAction*(QMenu& menu, QPoint globalPos)>;
MenuExecFunction SetMenuExecFunction(MenuExecFunction function); // null: QMenu::exec

} // namespace desktop
