#pragma once
// The desktop's actions for one file, offered as a context menu: open it with its default
// application, open it with each other application registered for its type, show it in its
// folder, copy its path. Applications are found through GIO; whatever runs is started through
// the process launcher with the file as one argument.

#include <QPoint>
#include <QString>
#include <QStringList>

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

// The argument vector (program first) that runs a desktop-entry command line on `file`:
// %f %F %u %U become the file, as one argument wherever they stand; %% becomes %; the other
// field codes are dropped; without a file code the file is added at the end. Empty when the
// command line cannot be parsed.
QStringList ArgumentsForFile(const QString& commandLine, const QString& file);

} // namespace desktop
