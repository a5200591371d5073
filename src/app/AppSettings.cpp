#include "AppSettings.h"

#include <QSettings>
#include <QSplitter>

#include "sys/UserFolders.h"

namespace {

constexpr const char* kSourceFolder = "Source/Folder";
constexpr const char* kSourceBookmarkFile = "Source/BookmarkFile";

QString ConfigHome() {
    // A relative XDG_CONFIG_HOME is invalid by the XDG rules and ignored.
    const QString given = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (given.startsWith(QLatin1Char('/')))
        return given;
    return QString::fromStdString(sys::HomeDirectory()) + QStringLiteral("/.config");
}

}  // namespace

QString SettingsFilePath() {
    return ConfigHome() + QStringLiteral("/quorvane/quorvane.conf");
}

std::unique_ptr<QSettings> OpenSettings() {
    return std::make_unique<QSettings>(SettingsFilePath(), QSettings::IniFormat);
}

TRememberedSource LoadRememberedSource() {
    auto settings = OpenSettings();
    TRememberedSource source;
    source.Folder = settings->value(kSourceFolder).toString();
    if (source.Folder.isEmpty())
        source.BookmarkFile = settings->value(kSourceBookmarkFile).toString();
    return source;
}

void SaveRememberedSource(const TRememberedSource& source) {
    auto settings = OpenSettings();
    settings->remove(kSourceFolder);
    settings->remove(kSourceBookmarkFile);
    if (!source.Folder.isEmpty())
        settings->setValue(kSourceFolder, source.Folder);
    else if (!source.BookmarkFile.isEmpty())
        settings->setValue(kSourceBookmarkFile, source.BookmarkFile);
}

void SaveSplitterState(QSettings& settings, const QString& key, const QSplitter& splitter) {
    settings.setValue(key, splitter.saveState());
}

void RestoreSplitterState(const QSettings& settings, const QString& key, QSplitter& splitter) {
    const QByteArray state = settings.value(key).toByteArray();
    if (!state.isEmpty())
        splitter.restoreState(state);
}
