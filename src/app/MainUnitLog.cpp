// The window's log: a heading per row's block and a separator per run, the way from a
// selected row to its last block, following the checked row in the list, and the log's
// context menu.
#include <QDateTime>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTreeView>

#include "FavoriteModel.h"
#include "MainUnit.h"
#include "MainUnitCheck.h"
#include "StatusBar.h"
#include "app/core/RowHeading.h"

namespace {

const std::string& RowKey(const TFavoriteRow& row) {
    return row.Datei.empty() ? row.URL : row.Datei;
}

QString RunSeparator() {
    const QString now =
        QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    return QStringLiteral("──── Überprüfung %1 ────").arg(now);
}

bool RowInView(QTreeView* list, std::size_t row) {
    const QRect rect = list->visualRect(list->model()->index(static_cast<int>(row), 0));
    return rect.isValid() && list->viewport()->rect().intersects(rect);
}

}  // namespace

TMainFormCheck::~TMainFormCheck() {
    QObject::disconnect(scrollWatch_);
}

void TMainFormCheck::RowBlock(std::size_t row, std::size_t position, std::size_t total) {
    if (row >= form_.Favorites.Count())
        return;
    const TFavoriteRow& favorite = form_.Favorites[row];
    CountStatus(lastRun_, favorite.Datum);
    pendingMarks_.emplace_back(RowKey(favorite), pendingLog_.size());
    pendingLog_.push_back(QString::fromStdString(RowHeading(favorite, position, total)));
    followedRow_ = row;
    followPending_ = true;
    ScheduleFrame();
}

void TMainFormCheck::RowsDone(std::size_t done, std::size_t total) {
    form_.ProgressLabel = QStringLiteral("%1 / %2").arg(done).arg(total);
}

void TMainFormCheck::RunStarted() {
    lastRun_ = {};
    following_ = true;
    followPending_ = false;
    pendingLog_.push_back(RunSeparator());
    ScheduleFrame();
}

void TMainFormCheck::RunEnded() {
    form_.StatusBar1->SetPanelText(2, QString::fromStdString(LastRunLine(lastRun_)));
}

// The pending headings become marks once their lines are known: the memo's line firstLine
// takes lines[skipped], the lines before it are left out.
void TMainFormCheck::MarkBlocks(const QStringList& lines, int firstLine, qsizetype skipped) {
    for (auto& [key, index] : pendingMarks_) {
        TBlockMark& mark = blocks_[std::move(key)];
        mark.line = firstLine + static_cast<int>(index - skipped);
        mark.heading = lines[index];
    }
    pendingMarks_.clear();
}

bool TMainFormCheck::ShowBlockOf(std::size_t row) {
    ShowPending();
    const auto found = blocks_.find(RowKey(form_.Favorites[row]));
    if (found == blocks_.end())
        return false;
    TBlockMark& mark = found->second;
    QPlainTextEdit* memo = form_.Memo1;
    QTextDocument* document = memo->document();
    QTextBlock block = document->findBlockByNumber(mark.line);
    if (block.text() != mark.heading) {
        // The memo was edited: the heading is looked for, the latest first.
        QTextCursor end(document);
        end.movePosition(QTextCursor::End);
        const QTextCursor hit = document->find(
            mark.heading, end, QTextDocument::FindCaseSensitively | QTextDocument::FindBackward);
        if (hit.isNull() || hit.block().text() != mark.heading) {
            blocks_.erase(found);
            return false;
        }
        block = hit.block();
        mark.line = block.blockNumber();
    }
    // From the end back up to the heading, so that the block opens at the top of the memo.
    memo->moveCursor(QTextCursor::End);
    memo->ensureCursorVisible();
    memo->setTextCursor(QTextCursor(block));
    memo->ensureCursorVisible();
    return true;
}

void TMainFormCheck::ClearLog() {
    ShowPending();
    form_.Memo1->clear();
    blocks_.clear();
}

void TMainFormCheck::WatchListScrolling() {
    scrollWatch_ = QObject::connect(form_.ListView1->verticalScrollBar(), &QScrollBar::valueChanged,
                                    form_.ListView1, [this] {
                                        if (!scrolling_ && form_.Checking)
                                            following_ = RowInView(form_.ListView1, followedRow_);
                                    });
}

// Rows are checked in list order: keeping the row after the last logged one in view shows
// the one being checked, and the one just done above it.
void TMainFormCheck::FollowCheckedRow() {
    if (!followPending_ || !following_)
        return;
    followPending_ = false;
    const std::size_t count = form_.Favorites.Count();
    if (followedRow_ >= count)
        return;
    const std::size_t next = std::min(followedRow_ + 1, count - 1);
    scrolling_ = true;
    form_.ListView1->scrollTo(form_.ListModel->index(static_cast<int>(next), 0));
    scrolling_ = false;
}

// --- The window's side --------------------------------------------------------------------

void TMainForm::ShowCurrentRowBlock() {
    const QModelIndex current = ListView1->currentIndex();
    if (current.isValid() && RowSelected(static_cast<std::size_t>(current.row())))
        CheckRun.ShowBlockOf(static_cast<std::size_t>(current.row()));
}

void TMainForm::ClearLog() {
    CheckRun.ClearLog();
}

QMenu* TMainForm::CreateLogMenu() {
    auto* menu = new QMenu(Memo1);
    QAction* copy =
        menu->addAction(QStringLiteral("&Kopieren\tStrg+C"), Memo1, &QPlainTextEdit::copy);
    copy->setEnabled(Memo1->textCursor().hasSelection());
    menu->addAction(QStringLiteral("&Alles auswählen\tStrg+A"), Memo1, &QPlainTextEdit::selectAll);
    menu->addSeparator();
    QAction* clear = menu->addAction(QStringLiteral("Log &leeren"), this, [this] { ClearLog(); });
    clear->setEnabled(!Memo1->document()->isEmpty());
    return menu;
}
