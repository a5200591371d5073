#include "FileDialogs.h"

#include <QFileDialog>
#include <utility>

namespace {

std::shared_ptr<IFileDialogs>& Current() {
    static std::shared_ptr<IFileDialogs> dialogs = std::make_shared<TQtFileDialogs>();
    return dialogs;
}

}  // namespace

QString TQtFileDialogs::ChooseFolder(QWidget* parent, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Favoritenordner wählen"),
                                             start);
}

// Chromium's file has no extension: the first filter names it ("Bookmarks") beside the patterns.
QString TQtFileDialogs::ChooseBookmarkFile(QWidget* parent, const QString& start) {
    return QFileDialog::getOpenFileName(
        parent, QStringLiteral("Lesezeichen-Datei öffnen"), start,
        QStringLiteral("Lesezeichen (places.sqlite Bookmarks *.html *.htm);;"
                       "Firefox (places.sqlite);;Chromium, Chrome, Brave, Edge (Bookmarks);;"
                       "HTML-Export (*.html *.htm);;Alle Dateien (*)"));
}

IFileDialogs& FileDialogs() {
    return *Current();
}

std::shared_ptr<IFileDialogs> SetFileDialogs(std::shared_ptr<IFileDialogs> dialogs) {
    auto previous = Current();
    Current() = dialogs ? std::move(dialogs) : std::make_shared<TQtFileDialogs>();
    return previous;
}
