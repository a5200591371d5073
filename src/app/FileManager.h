// "Im Dateimanager zeigen": the desktop's file manager opened on a shortcut's folder with the
// shortcut selected. Tests put a recorder in place of the desktop.
#pragma once

#include <functional>
#include <string>

class QWidget;

using TFileManagerHandler = std::function<void(const std::string& file)>;

// Asks the file manager (org.freedesktop.FileManager1 over D-Bus) to show file; without one,
// `xdg-open` opens its folder. Returns at once; a failure of both shows a box over parent.
void ShowInFileManager(QWidget* parent, const std::string& file);
// Replaces the desktop (an empty handler restores it); returns the previous handler.
TFileManagerHandler SetFileManagerHandler(TFileManagerHandler handler);
