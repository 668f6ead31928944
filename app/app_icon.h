#pragma once
// The program's pictures, drawn rather than stored: the icon (a disc with a
// flame) and the splash picture.

#include <QIcon>
#include <QPixmap>

namespace fornax::app {

QPixmap FornaxIconPixmap(int size);
QIcon FornaxIcon();
QPixmap SplashPicture();

}  // namespace fornax::app
