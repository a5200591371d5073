#include "ShellOpen.h"

#include <QDesktopServices>
#include <QUrl>

namespace {

void OpenOnDesktop(const std::string& target) {
    QString text = QString::fromStdString(target);
    QUrl url(text, QUrl::StrictMode);
    bool isAddress = url.isValid() && url.scheme().size() > 1;  // "C:" is no scheme
    QDesktopServices::openUrl(isAddress ? url : QUrl::fromLocalFile(text));
}

TShellOpenHandler& Current() {
    static TShellOpenHandler handler = OpenOnDesktop;
    return handler;
}

}  // namespace

void ShellOpen(QWidget*, const std::string& target) {
    Current()(target);
}

TShellOpenHandler SetShellOpenHandler(TShellOpenHandler handler) {
    auto previous = Current();
    Current() = handler ? std::move(handler) : TShellOpenHandler(OpenOnDesktop);
    return previous;
}
