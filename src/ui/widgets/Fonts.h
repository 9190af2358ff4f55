#pragma once
// The window's fonts: the classic dialog face where the system has it, else the nearest sans
// serif face of similar width.

#include <QFont>

namespace widgets {

QFont DialogFont(int pointSize, bool bold = false);

} // namespace widgets
