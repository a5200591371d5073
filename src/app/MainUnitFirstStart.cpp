// Where the favourites come from, from the window: the panel over an empty list that says
// what was looked for and offers a folder or a bookmark file instead, the "Quelle..." button
// that changes the source later, and the remembered choice that the next start reads when
// the command line names no source.
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "AppSettings.h"
#include "FavoriteModel.h"
#include "FileDialogs.h"
#include "MainUnit.h"
#include "app/core/ListSort.h"
#include "sys/UserFolders.h"

namespace {

const char kFirstStartHeadline[] = "Noch keine Favoriten gefunden.";
const char kFirstStartText[] =
    "Gesucht wurde in ~/Favorites (Internet-Verknüpfungen *.url, *.desktop) und in den "
    "Lesezeichen von Firefox und Chromium. Wählen Sie einen Ordner mit Verknüpfungen, etwa einen "
    "von Windows kopierten Favoritenordner, oder eine Lesezeichen-Datei (places.sqlite, "
    "Bookmarks, HTML-Export). Die Wahl gilt auch bei den nächsten Starts; „Quelle...“ unten im "
    "Fenster ändert sie.";

QPushButton* PanelButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    return button;
}

QString Home() {
    return QString::fromStdString(sys::HomeDirectory());
}

}  // namespace

void TMainForm::CreateSourceControls() {
    // The panel lies in the list's viewport, so it takes the list's place without a layout of
    // its own in the window; the header stays above it.
    FirstStartPanel = new QWidget(ListView1->viewport());
    FirstStartPanel->setObjectName(QStringLiteral("FirstStartPanel"));
    FirstStartPanel->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(FirstStartPanel);
    // Headline and buttons first: in a small window the explanation is what gets cut.
    auto* headline = new QLabel(QString::fromUtf8(kFirstStartHeadline), FirstStartPanel);
    QFont bold = headline->font();
    bold.setBold(true);
    headline->setFont(bold);
    column->addWidget(headline);
    auto* buttons = new QHBoxLayout;
    ChooseFolderBtn = PanelButton(QStringLiteral("&Ordner wählen..."), FirstStartPanel);
    ChooseBookmarksBtn =
        PanelButton(QStringLiteral("Lesezeichen-Datei &öffnen..."), FirstStartPanel);
    buttons->addWidget(ChooseFolderBtn);
    buttons->addWidget(ChooseBookmarksBtn);
    buttons->addStretch(1);
    column->addLayout(buttons);
    FirstStartLabel = new QLabel(QString::fromUtf8(kFirstStartText), FirstStartPanel);
    FirstStartLabel->setWordWrap(true);
    FirstStartLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    column->addWidget(FirstStartLabel);
    column->addStretch(1);
    auto* viewportLayout = new QVBoxLayout(ListView1->viewport());
    viewportLayout->setContentsMargins(0, 0, 0, 0);
    viewportLayout->addWidget(FirstStartPanel);

    SourceBtn = new QPushButton(QStringLiteral("&Quelle..."));
    SourceBtn->setObjectName(QStringLiteral("SourceBtn"));
    SourceBtn->setToolTip(QStringLiteral("Woher die Favoriten kommen: Ordner oder Lesezeichen"));
    SourceBtn->setAutoDefault(false);
    auto* menu = new QMenu(SourceBtn);
    menu->addAction(QStringLiteral("&Ordner wählen..."), this,
                    GuardedSlot(&TMainForm::ChooseFolderClick));
    menu->addAction(QStringLiteral("&Lesezeichen-Datei öffnen..."), this,
                    GuardedSlot(&TMainForm::ChooseBookmarkFileClick));
    menu->addSeparator();
    menu->addAction(QStringLiteral("&Standard: ~/Favorites und Browser"), this,
                    GuardedSlot(&TMainForm::DefaultSourceClick));
    SourceBtn->setMenu(menu);
    if (auto* bottom = qobject_cast<QHBoxLayout*>(BottomPanel->layout()))
        bottom->insertWidget(bottom->indexOf(ImageBtnGroup), SourceBtn, 0, Qt::AlignVCenter);

    connect(ChooseFolderBtn, &QPushButton::clicked, this,
            GuardedSlot(&TMainForm::ChooseFolderClick));
    connect(ChooseBookmarksBtn, &QPushButton::clicked, this,
            GuardedSlot(&TMainForm::ChooseBookmarkFileClick));
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(ListModel, signal, this, [this] { ShowListState(); });
    connect(ListModel, &QAbstractItemModel::modelReset, this, [this] { ShowListState(); });
}

// Buttons that act on rows do nothing on an empty list, so they say so by being disabled.
void TMainForm::ShowListState() {
    if (!FirstStartPanel)
        return;
    const bool empty = Favorites.Empty();
    const bool running = BreakBtn->isEnabled();  // as ShowRunState left it
    FirstStartPanel->setVisible(empty && !running);
    for (QPushButton* button : {CheckAllBtn, ShowBtn, DelBtn, DelAllBtn})
        button->setEnabled(!empty);
    CheckBtn->setEnabled(!empty && !running);
}

// A source given on the command line wins over the remembered one.
void TMainForm::ApplyRememberedSource() {
    if (!Options.FavoritesFolder.empty() || !Options.BookmarkFiles.empty())
        return;
    const TRememberedSource source = LoadRememberedSource();
    if (!source.Folder.isEmpty())
        Options.FavoritesFolder = source.Folder.toStdString();
    else if (!source.BookmarkFile.isEmpty())
        Options.BookmarkFiles = {source.BookmarkFile.toStdString()};
}

void TMainForm::ChooseFolderClick() {
    if (Checking)
        return;
    const QString start =
        Options.FavoritesFolder.empty() ? Home() : QString::fromStdString(Options.FavoritesFolder);
    const QString folder = FileDialogs().ChooseFolder(this, start);
    if (folder.isEmpty())
        return;
    SaveRememberedSource({folder, {}});
    Options.FavoritesFolder = folder.toStdString();
    Options.BookmarkFiles.clear();
    ReadSourceAnew();
}

void TMainForm::ChooseBookmarkFileClick() {
    if (Checking)
        return;
    const QString start = Options.BookmarkFiles.empty()
                              ? Home()
                              : QString::fromStdString(Options.BookmarkFiles.front());
    const QString file = FileDialogs().ChooseBookmarkFile(this, start);
    if (file.isEmpty())
        return;
    SaveRememberedSource({{}, file});
    Options.FavoritesFolder.clear();
    Options.BookmarkFiles = {file.toStdString()};
    ReadSourceAnew();
}

void TMainForm::DefaultSourceClick() {
    if (Checking)
        return;
    SaveRememberedSource({});
    Options.FavoritesFolder.clear();
    Options.BookmarkFiles.clear();
    ReadSourceAnew();
}

void TMainForm::ReadSourceAnew() {
    if (Checking)
        return;
    ListView1->clearSelection();
    {
        // The view sees the new list once, also when reading it fails half-way.
        struct TBulk {
            TFavoriteModel* model;
            ~TBulk() { model->EndBulk(); }
        } bulk{ListModel};
        ListModel->BeginBulk();
        Favorites.Clear();
        FavoritenEinlesen();
        OpenURLs();
    }
    ApplySort();
    ListView1Change();
    ShowListState();
}

// Rows read again come in the scan's order; a sorted list stays sorted.
void TMainForm::ApplySort() {
    if (!ListView1->header()->isSortIndicatorShown() || Favorites.Empty())
        return;
    Favorites.Rewrite([this](std::vector<TFavoriteRow>& rows) {
        SortFavoriteRows(rows, SortColumn, SortDescending);
    });
}
