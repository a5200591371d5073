// The list follows the Favorites folder while the window is open, and reads it anew on F5
// with nothing selected and on "Liste neu einlesen".
#include <QAction>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QTest>
#include <QTreeView>
#include <chrono>
#include <filesystem>
#include <optional>

#include "MainFormFixture.h"
#include "ScopedHome.h"
#include "app/FavoriteModel.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class MainFormWatchTest : public MainFormTest {
  protected:
    testsupport::ScopedHome home;
    fs::path favorites = home.Home() / "Favorites";

    void SetUp() override {
        MainFormTest::SetUp();
        for (const char* name : {"Alpha", "Beta", "Gamma"})
            Shortcut(std::string("Ordner/") + name);
    }

    void Shortcut(const std::string& name) {
        home.Write("Favorites/" + name + ".url", "[InternetShortcut]\nURL=https://" +
                                                     fs::path(name).filename().string() +
                                                     ".example/\n");
    }
    fs::path FileOf(const std::string& name) { return favorites / (name + ".url"); }

    // The window on the user's Favorites folder, read by the real scan.
    TMainForm& CreateOnFolder() {
        TMainForm::SetScanHook(nullptr);
        Form = std::make_unique<TMainForm>();
        Form->ProgramDir = home.Home().string() + "/";  // the result file stays in the home
        return *Form;
    }
    std::optional<std::size_t> RowOf(const fs::path& file) {
        for (std::size_t i = 0; i < Form->Favorites.Count(); ++i)
            if (fs::path(Form->Favorites[i].Datei) == file)
                return i;
        return std::nullopt;
    }
    bool AwaitRow(const fs::path& file, bool present) {
        return testsupport::RunLoopUntil([&] { return RowOf(file).has_value() == present; });
    }
    // Gives the row of file a verdict and makes it the selected and current row.
    void Mark(const fs::path& verdict, const fs::path& selected) {
        Form->Favorites.SetDatum(*RowOf(verdict), "OK");
        QModelIndex index = Form->ListModel->index(static_cast<int>(*RowOf(selected)), 0);
        Form->ListView1->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    void ExpectMarksKept(const fs::path& verdict, const fs::path& selected) {
        ASSERT_TRUE(RowOf(verdict) && RowOf(selected));
        EXPECT_EQ(Form->Favorites[*RowOf(verdict)].Datum, "OK");
        EXPECT_EQ(Form->SelectedCount(), 1u);
        EXPECT_TRUE(Form->RowSelected(*RowOf(selected)));
        EXPECT_EQ(Form->ListView1->currentIndex().row(), static_cast<int>(*RowOf(selected)));
    }
};

// A shortcut that comes back (from the trash, say) gets its stored result, as at the start;
// the rows the list had keep theirs, even where the file says otherwise.
TEST_F(MainFormWatchTest, AShortcutThatComesBackFindsItsStoredResult) {
    TMainForm& form = CreateOnFolder();
    const fs::path alpha = FileOf("Ordner/Alpha"), beta = FileOf("Ordner/Beta");
    form.Favorites.SetDatum(*RowOf(alpha), "2002/10/09; 10:10:10 GMT");
    form.Favorites.SetDatum(*RowOf(beta), "FAILED");
    form.SaveURLs();
    form.Favorites.SetDatum(*RowOf(beta), "OK");  // checked again since

    fs::rename(alpha, home.Home() / "Alpha.url");
    ASSERT_TRUE(AwaitRow(alpha, false));
    fs::rename(home.Home() / "Alpha.url", alpha);
    ASSERT_TRUE(AwaitRow(alpha, true));

    EXPECT_EQ(form.Favorites[*RowOf(alpha)].Datum, "2002/10/09; 10:10:10 GMT");
    EXPECT_EQ(form.Favorites[*RowOf(beta)].Datum, "OK");
}

// A shortcut made, renamed and removed while the window is open comes, moves and goes in the
// list; the other rows keep their verdicts, the selection stays on its row.
TEST_F(MainFormWatchTest, ShortcutsMadeAndRemovedShowInTheOpenWindow) {
    TMainForm& form = CreateOnFolder();
    ASSERT_EQ(form.Favorites.Count(), 3u);
    EXPECT_EQ(fs::path(form.WatchedFavoritesFolder()), favorites);
    const fs::path alpha = FileOf("Ordner/Alpha"), gamma = FileOf("Ordner/Gamma");
    Mark(alpha, gamma);

    Shortcut("Neu/Delta");  // in a folder that is new as well
    ASSERT_TRUE(AwaitRow(FileOf("Neu/Delta"), true));
    EXPECT_EQ(form.Favorites[*RowOf(FileOf("Neu/Delta"))].Datum, "???");
    ExpectMarksKept(alpha, gamma);

    fs::rename(FileOf("Neu/Delta"), FileOf("Neu/Epsilon"));
    ASSERT_TRUE(AwaitRow(FileOf("Neu/Epsilon"), true));
    ASSERT_TRUE(AwaitRow(FileOf("Neu/Delta"), false));
    ExpectMarksKept(alpha, gamma);

    fs::remove(FileOf("Neu/Epsilon"));
    fs::remove(FileOf("Ordner/Beta"));
    ASSERT_TRUE(AwaitRow(FileOf("Neu/Epsilon"), false));
    ASSERT_TRUE(AwaitRow(FileOf("Ordner/Beta"), false));
    EXPECT_EQ(form.Favorites.Count(), 2u);
    ExpectMarksKept(alpha, gamma);
}

// A check run addresses its rows by position: a change during it waits for the run's end.
TEST_F(MainFormWatchTest, AChangeDuringARunIsAppliedWhenTheRunEnds) {
    TMainForm& form = CreateOnFolder();
    form.Checking = true;
    form.ShowRunState(true);
    Shortcut("Ordner/Delta");
    fs::remove(FileOf("Ordner/Beta"));
    // Well beyond the time in which a change shows while idle.
    testsupport::RunLoopUntil([] { return false; }, 1500ms);
    EXPECT_EQ(form.Favorites.Count(), 3u);
    EXPECT_TRUE(RowOf(FileOf("Ordner/Beta")));
    form.Checking = false;
    form.ShowRunState(false);
    EXPECT_TRUE(AwaitRow(FileOf("Ordner/Delta"), true));
    EXPECT_TRUE(AwaitRow(FileOf("Ordner/Beta"), false));
}

// F5 with nothing selected and the reload action read the folder at once, before the watch's
// own reload could come.
TEST_F(MainFormWatchTest, F5WithNothingSelectedAndTheActionReadTheListAnew) {
    TMainForm& form = CreateOnFolder();
    form.show();
    form.ListView1->setFocus();
    form.Favorites.SetDatum(*RowOf(FileOf("Ordner/Alpha")), "OK");
    Shortcut("Ordner/Delta");
    QTest::keyClick(form.ListView1, Qt::Key_F5);
    EXPECT_TRUE(RowOf(FileOf("Ordner/Delta")));
    EXPECT_EQ(form.Favorites[*RowOf(FileOf("Ordner/Alpha"))].Datum, "OK");

    fs::remove(FileOf("Ordner/Delta"));
    form.ReloadAction->trigger();
    EXPECT_FALSE(RowOf(FileOf("Ordner/Delta")));
    EXPECT_EQ(form.ReloadAction->text(), "Liste neu einlesen");
}

// The window's own delete moves the file to the trash and takes its row out; the reload that
// the watch brings afterwards finds nothing more to do: no reset, no row back, verdicts kept.
TEST_F(MainFormWatchTest, TheWindowsOwnDeleteNeitherFlickersNorLosesVerdicts) {
    TMainForm& form = CreateOnFolder();
    const fs::path alpha = FileOf("Ordner/Alpha"), beta = FileOf("Ordner/Beta");
    Mark(alpha, beta);
    int resets = 0, removals = 0, inserts = 0;
    QObject::connect(form.ListModel, &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(form.ListModel, &QAbstractItemModel::rowsRemoved, [&] { ++removals; });
    QObject::connect(form.ListModel, &QAbstractItemModel::rowsInserted, [&] { ++inserts; });
    form.DelCheck->setChecked(false);
    form.DelBtnClick();
    ASSERT_FALSE(fs::exists(beta));
    EXPECT_FALSE(RowOf(beta));
    Shortcut("Ordner/Delta");  // a later change shows that the watch's reload has run
    ASSERT_TRUE(AwaitRow(FileOf("Ordner/Delta"), true));
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(removals, 1);
    EXPECT_EQ(inserts, 1);
    EXPECT_EQ(form.Favorites[*RowOf(alpha)].Datum, "OK");
}

// Rows from a scan hook are not the folder's: no watch, and a reload leaves them alone.
TEST_F(MainFormWatchTest, RowsGivenByTheTestAreLeftAlone) {
    TMainForm& form = Create(4);
    EXPECT_EQ(form.WatchedFavoritesFolder(), "");
    form.ReloadFavorites();
    EXPECT_EQ(form.Favorites.Count(), 4u);
}

}  // namespace
