// The window's side of deleting and visiting favourites and of sorting the list. The rules
// live in app/core (FavoriteEdit, ListSort); here they meet the view's selection, the message
// boxes, the recycle bin and the desktop.
#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTreeView>

#include "MainUnit.h"
#include "MessageBoxes.h"
#include "Opener.h"
#include "RecycleBin.h"
#include "app/core/FavoriteEdit.h"
#include "app/core/ListSort.h"

namespace {

// The delete logic's questions and reports, shown through the application's message boxes.
class TFormPrompter : public TPrompter {
  public:
    explicit TFormPrompter(QWidget* parent) : parent_(parent) {}

    TMsgAnswer Show(const TPrompt& prompt) override {
        TMessageBoxRequest request;
        request.Text = QString::fromStdString(prompt.Text);
        request.Caption = QString::fromStdString(prompt.Caption);
        request.Buttons = prompt.Buttons;
        request.Icon = prompt.Icon;
        return MessageBoxes().Show(parent_, request);
    }

  private:
    QWidget* parent_;
};

// The header shows the remembered column and direction once the list has been sorted. A
// click has already moved the header's own indicator when the handler runs, so it is always
// set back to the remembered state, refused clicks included.
void ShowSortState(QHeaderView* header, int column, bool descending, bool sorted) {
    if (sorted)
        header->setSortIndicatorShown(true);
    header->setSortIndicator(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

}  // namespace

void TMainForm::ShowBtnClick() {
    TDesktopOpener opener(this);
    VisitFirstSelected(
        Favorites, [this](std::size_t row) { return RowSelected(row); }, opener);
}

void TMainForm::ListView1DblClick() {
    ShowBtnClick();
}

// Ctrl+A selects every row, also with Shift or Alt held; the command keys go to their
// handlers (MainUnitMenu.cpp); other keys keep the list's own handling.
bool TMainForm::ListView1KeyDown(QKeyEvent* key) {
    if (ListCommandKey(key))
        return true;
    if (key->key() != Qt::Key_A || !(key->modifiers() & Qt::ControlModifier))
        return false;
    ListView1->selectAll();
    return true;
}

// Deleting is refused during a check run, which addresses its rows by position.
void TMainForm::DelBtnClick() {
    if (Checking)
        return;
    TFormPrompter prompter(this);
    DeleteSelected(
        Favorites, [this](std::size_t row) { return RowSelected(row); }, DelCheck->isChecked(),
        RecycleBin(), prompter,
        [this](const std::string& line) { Memo1->appendPlainText(QString::fromStdString(line)); });
}

void TMainForm::DelAllBtnClick() {
    if (Checking)
        return;
    TFormPrompter prompter(this);
    DeleteFailed(
        Favorites, RecycleBin(), prompter, DelCheck->isChecked(),
        [this](const std::string& line) { Memo1->appendPlainText(QString::fromStdString(line)); });
}

void TMainForm::ListView1ColumnClick(int column) {
    TListSorter sorter{SortColumn, SortDescending};
    bool sorted = sorter.ColumnClick(Favorites, column, Checking);
    SortColumn = sorter.SortColumn;
    SortDescending = sorter.SortDescending;
    ShowSortState(ListView1->header(), SortColumn, SortDescending, sorted);
}
