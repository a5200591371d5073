// The window's word about a result file it cannot use: one German box with the file and the
// reason, and each problem only once while the window is open. A file that could not be read
// at start and so cannot be written either (a folder stands there, say) is one problem: the
// box at start says both, and the saves that fail the same way later keep quiet.
#pragma once

#include <set>
#include <string>

class QWidget;
class EResultFileError;

std::string ResultReadFailedText(const std::string& path, const EResultFileError& error);
std::string ResultSaveFailedText(const std::string& path, const EResultFileError& error);

class TResultFileReport {
  public:
    void ReadFailed(QWidget* parent, const std::string& path, const EResultFileError& error);
    void SaveFailed(QWidget* parent, const std::string& path, const EResultFileError& error);

  private:
    // True the first time a file and reason come up.
    bool IsNew(const std::string& path, const EResultFileError& error);
    std::set<std::string> reported_;
};
