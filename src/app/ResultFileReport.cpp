#include "ResultFileReport.h"

#include "MessageBoxes.h"
#include "app/core/ResultFile.h"

namespace {

std::string FileAndReason(const std::string& path, const EResultFileError& error) {
    return "\n\nDatei: " + (error.Path.empty() ? path : error.Path) + "\nGrund: " + error.Reason +
           ".";
}

}  // namespace

std::string ResultReadFailedText(const std::string& path, const EResultFileError& error) {
    std::string text =
        "Die gespeicherten Ergebnisse konnten nicht gelesen werden." + FileAndReason(path, error);
    // An error that names the file is one a save would raise as well.
    if (!error.Path.empty())
        text +=
            "\n\nNeue Ergebnisse können dort erst gespeichert werden, wenn an dieser Stelle "
            "eine gewöhnliche Datei angelegt werden kann.";
    return text;
}

std::string ResultSaveFailedText(const std::string& path, const EResultFileError& error) {
    return "Die neuen Ergebnisse konnten nicht gespeichert werden." + FileAndReason(path, error);
}

void TResultFileReport::ReadFailed(QWidget* parent, const std::string& path,
                                   const EResultFileError& error) {
    if (IsNew(path, error))
        MessageBox(parent, QString::fromStdString(ResultReadFailedText(path, error)), {},
                   TMsgButtons::Ok, TMsgIcon::Warning);
}

void TResultFileReport::SaveFailed(QWidget* parent, const std::string& path,
                                   const EResultFileError& error) {
    if (IsNew(path, error))
        MessageBox(parent, QString::fromStdString(ResultSaveFailedText(path, error)), {},
                   TMsgButtons::Ok, TMsgIcon::Error);
}

bool TResultFileReport::IsNew(const std::string& path, const EResultFileError& error) {
    const std::string& file = error.Path.empty() ? path : error.Path;
    return reported_.insert(file + '\n' + error.Reason).second;
}
