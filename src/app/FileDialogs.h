// The file dialogs of the window: choosing the folder of the favourites and a bookmark file.
// One small interface, so that tests answer them instead of a user.
#pragma once

#include <QString>
#include <memory>

class QWidget;

class IFileDialogs {
  public:
    virtual ~IFileDialogs() = default;
    // The folder chosen, starting at `start`; empty when the user cancelled.
    virtual QString ChooseFolder(QWidget* parent, const QString& start) = 0;
    // A bookmark file (Firefox's places.sqlite, a Chromium Bookmarks file or an HTML export);
    // empty when the user cancelled.
    virtual QString ChooseBookmarkFile(QWidget* parent, const QString& start) = 0;
};

// The real dialogs: QFileDialog.
class TQtFileDialogs : public IFileDialogs {
  public:
    QString ChooseFolder(QWidget* parent, const QString& start) override;
    QString ChooseBookmarkFile(QWidget* parent, const QString& start) override;
};

IFileDialogs& FileDialogs();
// Puts other dialogs in place (nullptr: the QFileDialog ones again); returns the previous ones.
std::shared_ptr<IFileDialogs> SetFileDialogs(std::shared_ptr<IFileDialogs> dialogs);
