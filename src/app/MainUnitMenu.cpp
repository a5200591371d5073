// The list's keys and context menu, and the log's context menu: each entry is one of the
// window's handlers, so that keys, menus and buttons do the same.
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTreeView>
#include <algorithm>

#include "FileManager.h"
#include "MainUnit.h"

namespace {

// The key is named beside the entry, as German keyboards label it. It is no shortcut of the
// entry: the list handles its keys itself, and Return in the open menu must stay the menu's.
QAction* AddEntry(QMenu* menu, const QString& text, const char* key) {
    if (*key == '\0')
        return menu->addAction(text);
    return menu->addAction(text + QLatin1Char('\t') + QString::fromUtf8(key));
}

QAction* EntryOf(QMenu* menu, int index) {
    return menu->actions().value(index);
}

enum TRowEntry { reVisit, reCheck, reDelete, reCopy, reSeparator, reReveal };

}  // namespace

void TMainForm::CreateRowMenu() {
    RowMenu = new QMenu(ListView1);
    RowMenu->setObjectName(QStringLiteral("RowMenu"));
    auto on = [this](QAction* action, void (TMainForm::*handler)()) {
        connect(action, &QAction::triggered, this, GuardedSlot(handler));
    };
    on(AddEntry(RowMenu, QStringLiteral("&Besuchen"), "Eingabe"), &TMainForm::ShowBtnClick);
    on(AddEntry(RowMenu, QStringLiteral("Ü&berprüfen"), "F5"), &TMainForm::CheckBtnClick);
    on(AddEntry(RowMenu, QStringLiteral("&Löschen..."), "Entf"), &TMainForm::DelBtnClick);
    on(AddEntry(RowMenu, QStringLiteral("Adresse &kopieren"), "Strg+C"), &TMainForm::CopyAddresses);
    RowMenu->addSeparator();
    on(AddEntry(RowMenu, QStringLiteral("Im &Dateimanager zeigen"), ""),
       &TMainForm::ShowInFileManagerClick);
}

void TMainForm::ConnectMenus() {
    CreateRowMenu();
    connect(RowMenu, &QMenu::aboutToShow, this,
            [this] { GuardedCall([this] { UpdateRowMenu(); }); });
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { RowMenu->popup(ListView1->viewport()->mapToGlobal(at)); });
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = CreateLogMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(Memo1->viewport()->mapToGlobal(at));
    });
    connect(ListView1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { GuardedCall([this] { ShowCurrentRowBlock(); }); });
    CheckRun.WatchListScrolling();
}

void TMainForm::UpdateRowMenu() {
    const std::vector<std::size_t> rows = SelectedRows();
    const bool any = !rows.empty();
    EntryOf(RowMenu, reVisit)->setEnabled(any);
    EntryOf(RowMenu, reCheck)->setEnabled(any && !Checking);
    EntryOf(RowMenu, reDelete)->setEnabled(any && !Checking);
    EntryOf(RowMenu, reCopy)->setEnabled(any);
    const bool hasFile = any && !Favorites[rows.front()].Bookmark;
    EntryOf(RowMenu, reReveal)->setEnabled(hasFile);
}

// F5 with no row selected is left to the list's other handling.
bool TMainForm::ListCommandKey(QKeyEvent* key) {
    if (key->matches(QKeySequence::Copy)) {
        CopyAddresses();
        return true;
    }
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::NoModifier) {
        switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                ShowBtnClick();
                return true;
            case Qt::Key_Delete:
                DelBtnClick();
                return true;
            case Qt::Key_F5:  // with nothing selected: read the list anew
                SelectedCount() == 0 ? ReloadFavorites() : CheckBtnClick();
                return true;
            default:
                return false;
        }
    }
    if (mods == Qt::ShiftModifier && key->key() == Qt::Key_F5) {
        CheckAllBtnClick();
        return true;
    }
    return false;
}

void TMainForm::CopyAddresses() {
    QStringList addresses;
    for (std::size_t row : SelectedRows())
        addresses << QString::fromStdString(Favorites[row].URL);
    if (!addresses.isEmpty())
        QApplication::clipboard()->setText(addresses.join(QLatin1Char('\n')));
}

void TMainForm::ShowInFileManagerClick() {
    const std::vector<std::size_t> rows = SelectedRows();
    if (rows.empty() || Favorites[rows.front()].Bookmark)
        return;
    ShowInFileManager(this, Favorites[rows.front()].Datei);
}

std::vector<std::size_t> TMainForm::SelectedRows() const {
    std::vector<std::size_t> rows;
    for (const QItemSelectionRange& range : ListView1->selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(static_cast<std::size_t>(row));
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::erase_if(rows, [this](std::size_t row) { return row >= Favorites.Count(); });
    return rows;
}
