// The window's pictures: the project's own GIF files, built into the program as resources.
#pragma once

#include <QIcon>
#include <QPixmap>

// A picture by its file name in src/app/images ("decor.gif"); a null pixmap if there is none.
QPixmap LoadPicture(const char* fileName);
// The program's icon (window, task bar, about box).
QIcon ProgramIcon();
