// The shell's "open" verb: asks the desktop to open a web address in the default browser, or
// a file with its default application. Tests put a recorder in place of the desktop.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

class QWidget;

// What a handler raises when the desktop could not start the program that opens the target;
// the text says why, in German, or is empty when nothing more is known.
class EShellOpenFailed : public std::runtime_error {
  public:
    explicit EShellOpenFailed(const std::string& reason) : std::runtime_error(reason) {}
};

using TShellOpenHandler = std::function<void(const std::string& target)>;

// Opens target: an address with a scheme ("https://...") as it is, anything else as a local
// file. When the desktop cannot start a browser (or the file's program), a box names the
// target and what to install.
void ShellOpen(QWidget* parent, const std::string& target);
// Replaces the desktop (an empty handler restores it); returns the previous handler.
TShellOpenHandler SetShellOpenHandler(TShellOpenHandler handler);

// The box's text for a target that could not be opened, for the reason given.
std::string CannotOpenText(const std::string& target, const std::string& reason);
