// The shell's "open" verb: asks the desktop to open a web address in the default browser, or
// a file with its default application. Tests put a recorder in place of the desktop.
#pragma once

#include <functional>
#include <string>

class QWidget;

using TShellOpenHandler = std::function<void(const std::string& target)>;

// Opens target: an address with a scheme ("https://...") as it is, anything else as a local
// file. The outcome is not reported, as the desktop reports its own failures.
void ShellOpen(QWidget* parent, const std::string& target);
// Replaces the desktop (an empty handler restores it); returns the previous handler.
TShellOpenHandler SetShellOpenHandler(TShellOpenHandler handler);
