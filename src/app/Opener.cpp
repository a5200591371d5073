#include "Opener.h"

#include <QDesktopServices>
#include <QUrl>

#include "app/core/ShortcutAddress.h"

void TDesktopOpener::OpenShortcut(const std::string& path) {
    std::string address = ReadShortcutAddress(path);
    if (!IsWebAddress(address))
        return;
    QUrl url(QString::fromUtf8(address), QUrl::TolerantMode);
    if (url.isValid())
        QDesktopServices::openUrl(url);
}
