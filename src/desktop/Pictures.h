#pragma once
// The pictures the forms name (TImage::Picture, the tray icon): drawn here,
// so the view needs no image files beside the program.
#include <QIcon>
#include <QPixmap>
#include <string>

namespace vantor::desktop {

// "vantor" is the program's icon; an unknown name gives an empty pixmap.
QPixmap Picture(const std::string& name, int size);
QIcon ProgramIcon();

} // namespace vantor::desktop
