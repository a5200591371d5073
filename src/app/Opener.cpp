#include "Opener.h"

#include <QUrl>

#include "ShellOpen.h"
#include "app/core/ShortcutAddress.h"

void TDesktopOpener::OpenShortcut(const std::string& path) {
    OpenAddress(ReadShortcutAddress(path));
}

void TDesktopOpener::OpenAddress(const std::string& address) {
    if (!IsWebAddress(address))
        return;
    // Tolerant parsing takes addresses as browsers do (blanks, stray characters); the shell
    // gets them fully encoded.
    QUrl url(QString::fromUtf8(address), QUrl::TolerantMode);
    if (url.isValid())
        ShellOpen(parent_, url.toString(QUrl::FullyEncoded).toStdString());
}
