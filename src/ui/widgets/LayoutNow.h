#pragma once
// Qt lays out a hidden window only when it is first shown; the window's start-up needs the
// sizes it will have earlier (a part sized relative to another).

class QWidget;

namespace widgets {

// Gives the top-level `window` and every widget inside it the geometry they will have when it
// is shown at its current size, without putting anything on the screen.
void LayOutNow(QWidget* window);

} // namespace widgets
