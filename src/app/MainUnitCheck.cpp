// The main window's check run and result file: the handlers of the check and cancel
// buttons, closing during a run, and reading and writing "urls.dat".
#include "MainUnitCheck.h"

#include <QPlainTextEdit>

#include "MainUnit.h"
#include "app/core/HttpCheckRequest.h"
#include "app/core/ResultFile.h"
#include "app/core/ResultLocation.h"

TMainFormCheck::TMainFormCheck(TMainForm& form)
    : Run(form.Favorites, Client, *this, [&form] { form.SaveURLs(); }), form_(form) {
    ConfigureCheckClient(HttpCli);
    HttpCli.SetTimeout(form.Options.TimeoutSeconds);
    Run.SetJobs(JobsOf(form.Options, kWindowProgram),
                HttpCheckRequests(form.Options.TimeoutSeconds));
}

void TMainFormCheck::Log(const std::string& line) {
    form_.Memo1->appendPlainText(QString::fromUtf8(line.data(), static_cast<int>(line.size())));
}

void TMainFormCheck::RunStateChanged(bool checking) {
    form_.ShowRunState(checking);
}

void TMainFormCheck::Progress(int percent) {
    form_.SetProStatus(percent);
}

bool TMainFormCheck::IsSelected(std::size_t row) const {
    return form_.RowSelected(row);
}

void TMainForm::CheckBtnClick() {
    CheckRun.Run.CheckNow(true);
}

void TMainForm::CheckAllBtnClick() {
    CheckRun.Run.CheckNow(false);
}

void TMainForm::BreakBtnClick() {
    CheckRun.Run.Break();
}

void TMainForm::AbortBtnClick() {
    CheckRun.Run.AbortCurrent();
}

// A run in progress ends its current row as "???" and writes the file before the window
// goes; the window's destruction writes it once more.
void TMainForm::FormClose() {
    CheckRun.Run.Break();
}

// Beside the program, or in the user's data folder when the program's folder is read-only.
void TMainForm::OpenURLs() {
    ::OpenURLs(Favorites, ResultFilePath(ProgramDir));
}

void TMainForm::SaveURLs() {
    ::SaveURLs(Favorites, ResultFilePath(ProgramDir));
}
