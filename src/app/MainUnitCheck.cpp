// The main window's check run and result file: the handlers of the check and cancel
// buttons, closing during a run, and reading and writing "urls.dat".
#include "MainUnitCheck.h"

#include <QPlainTextEdit>
#include <QTextDocument>

#include "FavoriteModel.h"
#include "MainUnit.h"
#include "app/core/JobLimit.h"
#include "app/core/ResultFile.h"
#include "app/core/ResultLocation.h"
#include "sys/OpenFileLimit.h"

TMainFormCheck::TMainFormCheck(TMainForm& form)
    : Clients(form.Options.TimeoutSeconds),
      Run(form.Favorites, Clients.Client, *this, [&form] { form.SaveURLs(); }),
      form_(form) {
    // Rows beyond the descriptors the process may open would fail as FAILED for want of a socket.
    const int jobs =
        JobsWithinFileLimit(JobsOf(form.Options, kWindowProgram), sys::RaiseOpenFileLimit());
    Run.SetJobs(jobs, Clients.Requests);
    frame_.setSingleShot(true);
    frame_.setInterval(kFrame);
    QObject::connect(&frame_, &QTimer::timeout, [this] { ShowPending(); });
}

void TMainFormCheck::Log(const std::string& line) {
    pendingLog_.push_back(QString::fromUtf8(line.data(), static_cast<int>(line.size())));
    ScheduleFrame();
}

// The end of a run shows its last state before the buttons go idle and before the result file
// is written, whose failure shows a box.
void TMainFormCheck::RunStateChanged(bool checking) {
    if (checking) {
        RunStarted();
        form_.ListModel->DeferChanges([this] { ScheduleFrame(); });
    } else {
        ShowPending();
        form_.ListModel->StopDeferring();
        RunEnded();
    }
    form_.ShowRunState(checking);
}

// The field follows at once, for whoever reads it; the bar follows at the next frame.
void TMainFormCheck::Progress(int percent) {
    if (!progressPending_) {
        progressPending_ = true;
        progressShown_ = form_.Progress;
    }
    form_.Progress = percent;
    ScheduleFrame();
}

bool TMainFormCheck::IsSelected(std::size_t row) const {
    return form_.RowSelected(row);
}

void TMainFormCheck::ShowPending() {
    frame_.stop();
    AppendPendingLog();
    form_.ListModel->FlushChanges();
    FollowCheckedRow();
    if (progressPending_) {
        progressPending_ = false;
        form_.RepaintProgress(progressShown_);
    }
}

void TMainFormCheck::ScheduleFrame() {
    if (!frame_.isActive())
        frame_.start();
}

// One append for the whole batch. Its lines are joined with the paragraph separator, which
// the memo splits at just as separate appends would split; and an empty memo drops an empty
// first line, as appendPlainText does for each line.
void TMainFormCheck::AppendPendingLog() {
    QStringList lines;
    lines.swap(pendingLog_);
    QTextDocument* document = form_.Memo1->document();
    qsizetype first = 0;
    if (document->isEmpty())
        while (first < lines.size() && lines[first].isEmpty())
            ++first;
    // Appended lines start a block of their own, unless the memo is empty.
    MarkBlocks(lines, document->isEmpty() ? 0 : document->blockCount(), first);
    if (first < lines.size())
        form_.Memo1->appendPlainText(lines.sliced(first).join(QChar::ParagraphSeparator));
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
// Something other than a file at that place is told at start, once, as it will refuse saves.
void TMainForm::OpenURLs() {
    const std::string path = ResultFilePath(ProgramDir);
    try {
        RequirePlainResultFile(path);
        ::OpenURLs(Favorites, path);
    } catch (const EResultFileError& e) {
        ResultReport.ReadFailed(isVisible() ? this : nullptr, path, e);
    }
}

void TMainForm::SaveURLs() {
    const std::string path = ResultFilePath(ProgramDir);
    try {
        ::SaveURLs(Favorites, path);
    } catch (const EResultFileError& e) {
        ResultReport.SaveFailed(isVisible() ? this : nullptr, path, e);
    }
}
