#include "ShellOpen.h"

#include <QDesktopServices>
#include <QStandardPaths>
#include <QUrl>

#include "MessageBoxes.h"

namespace {

bool IsAddress(const QUrl& url) {
    return url.isValid() && url.scheme().size() > 1;  // "C:" is no scheme
}

// The desktop's opener; Qt falls back to $BROWSER and a few browsers by name without it.
void OpenOnDesktop(const std::string& target) {
    QString text = QString::fromStdString(target);
    QUrl url(text, QUrl::StrictMode);
    if (QDesktopServices::openUrl(IsAddress(url) ? url : QUrl::fromLocalFile(text)))
        return;
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty())
        throw EShellOpenFailed("xdg-open ist nicht installiert");
    throw EShellOpenFailed("xdg-open ließ sich nicht starten");
}

TShellOpenHandler& Current() {
    static TShellOpenHandler handler = OpenOnDesktop;
    return handler;
}

}  // namespace

std::string CannotOpenText(const std::string& target, const std::string& reason) {
    const bool address = IsAddress(QUrl(QString::fromStdString(target), QUrl::StrictMode));
    std::string text = address
                           ? "Die Adresse\n" + target + "\nkonnte nicht im Browser geöffnet werden"
                           : "„" + target + "“ konnte nicht geöffnet werden";
    text += reason.empty() ? "." : ": " + reason + ".";
    return text +
           "\n\nDer Desktop öffnet Adressen und Dateien mit xdg-open aus dem Paket xdg-utils. "
           "Installieren Sie es (etwa mit „sudo apt install xdg-utils“) und richten Sie einen "
           "Standardbrowser ein.";
}

void ShellOpen(QWidget* parent, const std::string& target) {
    try {
        Current()(target);
    } catch (const EShellOpenFailed& e) {
        MessageBox(parent, QString::fromStdString(CannotOpenText(target, e.what())), {},
                   TMsgButtons::Ok, TMsgIcon::Warning);
    }
}

TShellOpenHandler SetShellOpenHandler(TShellOpenHandler handler) {
    auto previous = Current();
    Current() = handler ? std::move(handler) : TShellOpenHandler(OpenOnDesktop);
    return previous;
}
