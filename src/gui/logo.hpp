#pragma once
// The program's picture, drawn rather than shipped as a file: an open package with a
// script page coming out of it.

#include <QIcon>
#include <QPixmap>

namespace tarvik::gui {

QPixmap DrawLogo(int size);
QIcon ProgramIcon();

}  // namespace tarvik::gui
