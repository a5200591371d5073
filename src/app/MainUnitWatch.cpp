// The list follows the Favorites folder: a directory monitor watches the folder the window
// read, and shortcuts that come, go or are renamed there reload the list a moment after the
// last change. F5 with nothing selected, Ctrl+R and the button beside the home page reload it
// by hand. A reload merges the fresh scan into the list, so that nothing the user sees jumps.
#include <QAction>
#include <QHBoxLayout>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <exception>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "MainUnit.h"
#include "app/core/FavoriteMerge.h"
#include "app/core/FavoritesSource.h"
#include "app/core/ResultFile.h"
#include "app/core/ResultLocation.h"
#include "shell/DirMon.h"

namespace {

// Long enough to gather a copy of many shortcuts into one reload, short enough to feel at once.
constexpr int kReloadDelayMs = 250;
}  // namespace

void TMainForm::CreateReloadAction() {
    ReloadAction = new QAction(style()->standardIcon(QStyle::SP_BrowserReload),
                               QStringLiteral("Liste neu einlesen"), this);
    ReloadAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    ReloadAction->setShortcutContext(Qt::WindowShortcut);
    ReloadAction->setToolTip(QStringLiteral("Liste neu einlesen (Strg+R, F5 ohne Auswahl)"));
    addAction(ReloadAction);
    connect(ReloadAction, &QAction::triggered, this,
            [this] { GuardedCall([this] { ReloadFavorites(); }); });

    ReloadBtn = new QToolButton;
    ReloadBtn->setDefaultAction(ReloadAction);
    ReloadBtn->setAutoRaise(true);
    ReloadBtn->setToolButtonStyle(Qt::ToolButtonIconOnly);
    if (auto* row = qobject_cast<QHBoxLayout*>(BottomPanel->layout()))
        row->insertWidget(row->indexOf(wwwBtn) + 1, ReloadBtn, 0, Qt::AlignVCenter);

    reloadTimer_ = new QTimer(this);
    reloadTimer_->setSingleShot(true);
    reloadTimer_->setInterval(kReloadDelayMs);
    connect(reloadTimer_, &QTimer::timeout, this,
            [this] { GuardedCall([this] { ReloadFavorites(); }); });
}

// Names of files and folders: a shortcut made, removed or renamed anywhere below.
void TMainForm::WatchFavorites(const std::string& folder) {
    reloadable_ = true;
    if (folder.empty()) {
        favoritesMon_.reset();
        return;
    }
    if (!favoritesMon_) {
        favoritesMon_ = std::make_unique<TDirMon>();
        favoritesMon_->SetNotifyFilter({dmcFileName, dmcDirName});
        favoritesMon_->SetNested(true);
        favoritesMon_->OnDirChange = [this](sys::TObject*) { ScheduleReload(); };
    }
    favoritesMon_->SetDirectory(folder);
    if (!favoritesMon_->Running())
        favoritesMon_->Start();  // again after the folder had gone and come back
}

std::string TMainForm::WatchedFavoritesFolder() const {
    return favoritesMon_ && favoritesMon_->Running() ? favoritesMon_->Directory() : std::string();
}

void TMainForm::ScheduleReload() {
    reloadTimer_->start();  // a burst restarts it: one reload after the last change
}

void TMainForm::ReloadFavorites() {
    reloadTimer_->stop();
    if (!reloadable_)
        return;
    if (Checking) {
        reloadPending_ = true;
        return;
    }
    reloadPending_ = false;
    TFavoriteList fresh;
    const TFavoritesScan scan = ScanFavorites(fresh, ShellBrowser1.get(), Options.FavoritesFolder);
    std::unordered_set<std::string> listed;
    for (const TFavoriteRow& row : Favorites.Rows())
        if (!row.Bookmark)
            listed.insert(row.Datei);
    std::vector<TFavoriteRow> rows = fresh.Rows();
    MergeShortcutRows(Favorites, std::move(rows));
    RestoreStoredResults(listed);
    WatchFavorites(scan.Root);
}

// A shortcut that comes back (from the trash, say) finds its stored result, as at the start;
// rows the list had keep the verdicts they have.
void TMainForm::RestoreStoredResults(const std::unordered_set<std::string>& listedBefore) {
    TFavoriteList added;
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < Favorites.Count(); ++i) {
        if (!Favorites[i].Bookmark && !listedBefore.count(Favorites[i].Datei)) {
            added.Append(Favorites[i]);
            positions.push_back(i);
        }
    }
    if (positions.empty())
        return;
    const std::string path = ResultFilePath(ProgramDir);
    try {
        ::OpenURLs(added, path);
    } catch (const EResultFileError& e) {
        ResultReport.ReadFailed(isVisible() ? this : nullptr, path, e);
    }
    for (std::size_t i = 0; i < positions.size(); ++i)
        if (added[i].Datum != Favorites[positions[i]].Datum)
            Favorites.SetDatum(positions[i], added[i].Datum);
}

// The run's end applies a reload that came during it, from the loop, once the run is over.
void TMainForm::ReloadWhenIdle(bool running) {
    if (!running && reloadPending_)
        QTimer::singleShot(0, this, [this] {
            if (reloadPending_)
                GuardedCall([this] { ReloadFavorites(); });
        });
}
