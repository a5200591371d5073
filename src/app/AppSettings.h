// The settings a desktop user expects to be kept between starts (the chosen source of the
// favourites, the window's place, its columns, sort order and splitters), in one INI file:
// $XDG_CONFIG_HOME/quorvane/quorvane.conf, else ~/.config/quorvane/quorvane.conf.
#pragma once

#include <QString>
#include <memory>

class QSettings;
class QSplitter;

// The settings file, found again at every call, so that a changed XDG_CONFIG_HOME counts.
QString SettingsFilePath();
std::unique_ptr<QSettings> OpenSettings();

// Where the favourites come from when the command line names nothing: a folder of shortcuts
// or one bookmark file. At most one of the two is set.
struct TRememberedSource {
    QString Folder;
    QString BookmarkFile;
    bool Empty() const { return Folder.isEmpty() && BookmarkFile.isEmpty(); }
};
TRememberedSource LoadRememberedSource();
// Replaces the remembered source; an empty one forgets it (the default folders again).
void SaveRememberedSource(const TRememberedSource& source);

// A splitter's sizes under key in settings; a missing or damaged entry leaves the splitter as
// it is.
void SaveSplitterState(QSettings& settings, const QString& key, const QSplitter& splitter);
void RestoreSplitterState(const QSettings& settings, const QString& key, QSplitter& splitter);
