// The window with a browser's bookmarks in a temporary home: the bookmark rows stand beside
// the shortcut rows, are visited by their address and never deleted.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>
#include <filesystem>
#include <map>

#include "MainFormFixture.h"
#include "ScopedHome.h"
#include "app/FavoriteModel.h"

namespace {

class BookmarkWindowTest : public MainFormTest {
  protected:
    testsupport::ScopedHome Home;

    void SetUp() override {
        MainFormTest::SetUp();
        Home.Write("Favorites/Kurz.url", "[DEFAULT]\nBASEURL=http://shortcut.example/\n");
        bookmarks = Home.Write(".config/chromium/Default/Bookmarks",
                               R"({"roots": {"bookmark_bar": {"type": "folder", "children": [
                 {"type": "folder", "name": "Reisen", "children": [
                   {"type": "url", "name": "Bahn", "url": "https://bahn.example/x", "guid": "g1"}
                 ]}]}}})");
        TMainForm::SetScanHook(nullptr);  // the real scan of the temporary home
        Form = std::make_unique<TMainForm>();
    }

    std::filesystem::path bookmarks;
};

TEST_F(BookmarkWindowTest, BookmarkRowsStandBesideShortcutRows) {
    ASSERT_EQ(Form->Favorites.Count(), 2u);
    const TFavoriteRow& shortcut = Form->Favorites[0];
    const TFavoriteRow& bookmark = Form->Favorites[1];
    EXPECT_EQ(shortcut.Name, "Kurz");
    EXPECT_FALSE(shortcut.Bookmark);
    EXPECT_EQ(bookmark.Datei, bookmarks.string() + "#g1");
    const QModelIndex pfad = Form->ListModel->index(1, 1);
    EXPECT_EQ(pfad.data().toString().toStdString(), "Chromium (Default)/Lesezeichenleiste/Reisen/");
    EXPECT_TRUE(Form->Memo1->toPlainText().contains(QString::fromStdString(
        "Lesezeichen gelesen: Chromium (Default) (" + bookmarks.string() + "): 1 Lesezeichen")));
    // The user's own Favorites folder was found, so no line about it.
    EXPECT_FALSE(Form->Memo1->toPlainText().contains("Kein Favoritenordner"));
}

TEST_F(BookmarkWindowTest, ABookmarkIsVisitedByItsAddressAndNeverDeleted) {
    Form->ListView1->selectionModel()->select(
        Form->ListModel->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Form->ShowBtn->click();
    EXPECT_EQ(Opened, std::vector<std::string>{"https://bahn.example/x"});

    Form->DelCheck->setChecked(true);
    Form->DelBtn->click();
    ASSERT_EQ(Boxes->Shown.size(), 1u);
    EXPECT_EQ(Boxes->Shown[0].Text.toStdString(),
              "1 markiertes Lesezeichen bleibt unverändert: Lesezeichen löschen Sie im Browser.");
    Form->DelCheck->setChecked(false);
    Form->DelBtn->click();
    EXPECT_TRUE(Form->Memo1->toPlainText().endsWith(
        QString::fromUtf8("Lesezeichen löschen Sie im Browser.")));
    EXPECT_EQ(Form->Favorites.Count(), 2u);
}

// Bookmark rows sort with the shortcut rows and keep their verdicts in the result file under
// their SOURCE#ID, as a shortcut's come back under its path.
TEST_F(BookmarkWindowTest, BookmarkRowsAreSortedAndSavedLikeShortcutRows) {
    const std::string programDir = (Home.Home().parent_path() / "bin").string() + "/";
    std::filesystem::create_directories(programDir);
    const auto scanInto = [&](TMainForm& form) {
        form.ProgramDir = programDir;
        TMainForm::SetScanHook(nullptr);  // the real scan, with the program folder moved
        form.Favorites.Clear();
        form.FavoritenEinlesen();
        form.OpenURLs();
    };
    scanInto(*Form);
    const auto names = [&] {
        std::vector<std::string> list;
        for (const TFavoriteRow& row : Form->Favorites.Rows())
            list.push_back(row.Name);
        return list;
    };
    Form->ListView1ColumnClick(0);  // by name, one way and then the other
    const std::vector<std::string> once = names();
    Form->ListView1ColumnClick(0);
    ASSERT_EQ(names(), (std::vector<std::string>(once.rbegin(), once.rend())));
    ASSERT_TRUE(once == (std::vector<std::string>{"Bahn", "Kurz"}) ||
                once == (std::vector<std::string>{"Kurz", "Bahn"}));
    for (std::size_t i = 0; i < Form->Favorites.Count(); ++i)
        Form->Favorites.SetDatum(i, Form->Favorites[i].Name == "Bahn" ? "FAILED" : "OK");
    Form->SaveURLs();

    Form = std::make_unique<TMainForm>();
    scanInto(*Form);
    std::map<std::string, std::string> restored;
    for (const TFavoriteRow& row : Form->Favorites.Rows())
        restored[row.Name] = row.Datum;
    EXPECT_EQ(restored, (std::map<std::string, std::string>{{"Bahn", "FAILED"}, {"Kurz", "OK"}}));
}

}  // namespace
