// The program's pictures, drawn in code: the main icon (window, tray) and
// the logo at the top of the main window.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace vantrel {

QIcon mainIcon();
// The main icon at one size, as installed in the desktop's icon theme.
QPixmap iconPicture(int size);
QPixmap logoPicture(int width, int height);

} // namespace vantrel
