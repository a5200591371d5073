// File dialogs that tests answer: every dialog asked for is recorded with its start folder,
// and answered with the next queued path (empty, as a cancelled dialog, when none is queued).
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/FileDialogs.h"

class TScriptedFileDialogs : public IFileDialogs {
  public:
    QString ChooseFolder(QWidget*, const QString& start) override {
        return Answer("folder", start);
    }
    QString ChooseBookmarkFile(QWidget*, const QString& start) override {
        return Answer("bookmarks", start);
    }

    std::vector<std::string> Asked;  // "folder <start>" or "bookmarks <start>"
    std::deque<QString> Answers;

  private:
    QString Answer(const std::string& kind, const QString& start) {
        Asked.push_back(kind + " " + start.toStdString());
        if (Answers.empty())
            return {};
        QString answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
};

// Installs scripted dialogs for the life of the object and restores the previous ones.
class TScriptedFileDialogsScope {
  public:
    TScriptedFileDialogsScope()
        : dialogs_(std::make_shared<TScriptedFileDialogs>()), previous_(SetFileDialogs(dialogs_)) {}
    ~TScriptedFileDialogsScope() { SetFileDialogs(previous_); }
    TScriptedFileDialogs* operator->() { return dialogs_.get(); }

  private:
    std::shared_ptr<TScriptedFileDialogs> dialogs_;
    std::shared_ptr<IFileDialogs> previous_;
};
