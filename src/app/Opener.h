// Visiting a favourite: the shortcut's address opened in the user's default browser.
#pragma once

#include <string>

#include "app/core/FavoriteEdit.h"

class TDesktopOpener : public TShortcutOpener {
  public:
    // Reads the shortcut's URL= entry and hands a web address to the desktop (xdg-open).
    // Shortcuts without one, or with another kind of address, open nothing.
    void OpenShortcut(const std::string& path) override;
};
