// The main window's life cycle and its handlers, grouped by the work they belong to.
#include "MainUnit.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QTreeView>
#include <utility>

#include "AboutBoxUnit.h"
#include "FavoriteModel.h"
#include "HomePage.h"
#include "ImageBtnUnit.h"
#include "MessageBoxes.h"
#include "ShellOpen.h"
#include "StatusBar.h"
#include "app/core/BookmarkSources.h"
#include "app/core/FavoritesSource.h"
#include "app/core/ProgramDir.h"
#include "shell/DirMon.h"
#include "shell/ShellBrowser.h"
#include "shell/ShellLink.h"
#include "shell/SystemImageList.h"

TMainForm::TMainForm(const TProgramOptions& options, QWidget* parent)
    : QMainWindow(parent), Options(options) {
    handle_ = sys::AllocateHWnd([this](sys::TMessage& message) { WndProc(message); });
    CreateComponents();
    CreateControls();
    CreateReloadAction();
    CreateSourceControls();
    ConnectColumnFit();
    SetTabOrder();  // once every control is made
    ConnectHandlers();
    RestoreWindowSettings();
    ApplyRememberedSource();
    Guarded([this] { FormCreate(); });
    RestoreSortState();
    ShowListState();
}

TMainForm::~TMainForm() {
    Guarded([this] { FormDestroy(); });
    ListView1->setModel(nullptr);
    delete ListModel;  // detaches from Favorites before the rows go
    ListModel = nullptr;
    sys::DeallocateHWnd(handle_);
}

// An exception that escapes a handler goes to the standard error box; the program goes on.
// Exceptions must not unwind through Qt's event delivery, so every handler runs in here.
template <typename Handler>
void TMainForm::Guarded(Handler handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(e, isVisible() ? this : nullptr);
    }
}

void TMainForm::GuardedCall(const std::function<void()>& handler) {
    Guarded(handler);
}

std::function<void()> TMainForm::GuardedSlot(void (TMainForm::*handler)()) {
    return [this, handler] { Guarded([this, handler] { (this->*handler)(); }); };
}

void TMainForm::ConnectHandlers() {
    auto on = [this](auto* sender, auto signal, void (TMainForm::*handler)()) {
        connect(sender, signal, this, GuardedSlot(handler));
    };
    on(CheckAllBtn, &QPushButton::clicked, &TMainForm::CheckAllBtnClick);
    on(BreakBtn, &QPushButton::clicked, &TMainForm::BreakBtnClick);
    on(ShowBtn, &QPushButton::clicked, &TMainForm::ShowBtnClick);
    on(CheckBtn, &QPushButton::clicked, &TMainForm::CheckBtnClick);
    on(AbortBtn, &QPushButton::clicked, &TMainForm::AbortBtnClick);
    on(DelBtn, &QPushButton::clicked, &TMainForm::DelBtnClick);
    on(DelAllBtn, &QPushButton::clicked, &TMainForm::DelAllBtnClick);
    on(wwwBtn, &QToolButton::clicked, &TMainForm::wwwBtnClick);
    ueberbtn->OnClick = [this] { Guarded([this] { ueberbtnClick(); }); };
    endebtn->OnClick = [this] { Guarded([this] { EndeBtnClick(); }); };
    StatusBar1->OnDrawPanel = [this](QPainter& painter, int panel, const QRect& rect) {
        StatusBar1DrawPanel(painter, panel, rect);
    };
    ConnectListView();
    ConnectMenus();
    InstallCancelKey();
}

void TMainForm::ConnectListView() {
    auto change = [this] { Guarded([this] { ListView1Change(); }); };
    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this, change);
    connect(ListModel, &QAbstractItemModel::dataChanged, this, change);
    connect(ListModel, &QAbstractItemModel::rowsInserted, this, change);
    connect(ListModel, &QAbstractItemModel::rowsRemoved, this, change);
    connect(ListView1->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { Guarded([this, column] { ListView1ColumnClick(column); }); });
    ListView1->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);
}

// Esc clicks the first enabled cancel button, except in the memo, which keeps Esc.
void TMainForm::InstallCancelKey() {
    auto* cancel = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    cancel->setContext(Qt::WindowShortcut);
    connect(cancel, &QShortcut::activated, this, [this] { CancelKeyPressed(); });
    Memo1->installEventFilter(this);
}

void TMainForm::CancelKeyPressed() {
    for (QPushButton* button : {BreakBtn, AbortBtn}) {
        if (button->isEnabled()) {
            button->click();
            return;
        }
    }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Memo1 && event->type() == QEvent::ShortcutOverride) {
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            event->accept();  // the memo keeps Esc: no cancel button is clicked
        return false;
    }
    if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        bool handled = false;
        Guarded([&] { handled = ListView1KeyDown(static_cast<QKeyEvent*>(event)); });
        return handled;
    }
    if (watched == ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick)
        Guarded([this] { ListView1DblClick(); });
    if (watched == ListView1->viewport() && event->type() == QEvent::Resize)
        FitListColumns();
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::WndProc(sys::TMessage& message) {
    if (message.Msg == sys::WM_USER)
        Guarded([&] { WMUser(message); });
}

// --- Start-up and shut-down --------------------------------------------------------------

void TMainForm::FormCreate() {
    ProgramDir = ExecutableDir();
    // The list fills in one go: the view hears of it once, when the stored results are in
    // (or reading them failed). New rows are a change of the list, as later ones are.
    struct TBulkFill {
        TMainForm& form;
        explicit TBulkFill(TMainForm& f) : form(f) { form.ListModel->BeginBulk(); }
        ~TBulkFill() {
            form.ListModel->EndBulk();
            if (!form.Favorites.Empty())
                form.ListView1Change();
        }
    } fill(*this);
    FavoritenEinlesen();
    OpenURLs();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (isVisible())
        SaveWindowSettings();
    Guarded([this] { FormClose(); });
    event->accept();
}

void TMainForm::FormDestroy() {
    SaveURLs();
}

namespace {
TMainForm::TScanHook& ScanHook() {
    static TMainForm::TScanHook hook;
    return hook;
}
}  // namespace

TMainForm::TScanHook TMainForm::SetScanHook(TScanHook hook) {
    return std::exchange(ScanHook(), std::move(hook));
}

void TMainForm::FavoritenEinlesen() {
    if (ScanHook()) {
        ScanHook()(*this);
        return;
    }
    // Without a line, an empty list would leave a newcomer guessing where it looked.
    const TFavoritesScan scan =
        ScanFavorites(Favorites, ShellBrowser1.get(), Options.FavoritesFolder);
    WatchFavorites(scan.Root);
    for (const std::string& line : ScanNoteLines(scan))
        Memo1->appendPlainText(QString::fromStdString(line));
    const std::size_t bookmarks = AppendBookmarks(
        Favorites, Options,
        [this](const std::string& line) { Memo1->appendPlainText(QString::fromStdString(line)); });
    if (std::string line = NoFavoritesLine(scan, kWindowProgram);
        !line.empty() && !BookmarksInstead(scan, Options, bookmarks))
        Memo1->appendPlainText(QString::fromStdString(line));
}

// --- Check run ---------------------------------------------------------------------------

void TMainForm::ShowRunState(bool running) {
    CheckBtn->setEnabled(!running);
    BreakBtn->setEnabled(running);
    AbortBtn->setEnabled(running);
    ReloadWhenIdle(running);
    ShowListState();
}

// --- Deleting, visiting and sorting ------------------------------------------------------

// The handlers of this group are in MainUnitEdit.cpp.

// --- Bottom bar --------------------------------------------------------------------------

void TMainForm::wwwBtnClick() {
    ShellOpen(this, kHomePageURL);
}

void TMainForm::ueberbtnClick() {
    TAboutBox box(this);
    box.exec();
}

void TMainForm::EndeBtnClick() {
    close();
}
