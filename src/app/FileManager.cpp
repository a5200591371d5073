#include "FileManager.h"

#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QUrl>
#include <QWidget>
#include <utility>

#include "MessageBoxes.h"

#ifdef QV_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#endif

namespace {

void OpenFolder(QWidget* parent, const QString& file) {
    const QString folder = QFileInfo(file).absolutePath();
    if (QProcess::startDetached(QStringLiteral("xdg-open"), {folder}))
        return;
    MessageBox(parent,
               QStringLiteral("Der Ordner \"%1\" konnte nicht geöffnet werden: Es ist kein "
                              "Dateimanager erreichbar, und \"xdg-open\" fehlt (Paket "
                              "xdg-utils).")
                   .arg(folder),
               {}, TMsgButtons::Ok, TMsgIcon::Warning);
}

// The call is asynchronous: a file manager that the bus must start first may take a while,
// and the window stays responsive meanwhile.
void ShowOnDesktop(QWidget* parent, const std::string& path) {
    const QString file = QString::fromStdString(path);
#ifdef QV_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(file).toString()} << QString();
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
        QPointer<QWidget> owner(parent);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                         [owner, file](QDBusPendingCallWatcher* done) {
                             done->deleteLater();
                             if (done->isError())
                                 OpenFolder(owner, file);
                         });
        return;
    }
#endif
    OpenFolder(parent, file);
}

TFileManagerHandler& Current() {
    static TFileManagerHandler handler;
    return handler;
}

}  // namespace

void ShowInFileManager(QWidget* parent, const std::string& file) {
    if (Current())
        Current()(file);
    else
        ShowOnDesktop(parent, file);
}

TFileManagerHandler SetFileManagerHandler(TFileManagerHandler handler) {
    return std::exchange(Current(), std::move(handler));
}
