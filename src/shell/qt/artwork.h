// The program's pictures, drawn in code: the main icon (window, tray) and
// the logo at the top of the main window.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace vantrel {

QIcon mainIcon();
QPixmap logoPicture(int width, int height);

} // namespace vantrel
