// Visiting a favourite: the shortcut's address opened in the user's default browser.
#pragma once

#include <string>

#include "app/core/FavoriteEdit.h"

class QWidget;

class TDesktopOpener : public TShortcutOpener {
  public:
    explicit TDesktopOpener(QWidget* parent = nullptr) : parent_(parent) {}
    // Reads the shortcut's URL= entry and hands a web address to the shell's "open" (the
    // default browser). Shortcuts without one, or with another kind of address, open nothing.
    void OpenShortcut(const std::string& path) override;
    // Hands a web address (a bookmark's) to the shell's "open"; other addresses open nothing.
    void OpenAddress(const std::string& address) override;

  private:
    QWidget* parent_;
};
