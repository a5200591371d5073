// The first start in a home without favourites: the panel over the empty list, the folder and
// bookmark file chosen there, and the choice read again by the next window.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTreeView>
#include <filesystem>

#include "MainFormFixture.h"
#include "ScopedEnv.h"
#include "ScopedHome.h"
#include "ScriptedFileDialogs.h"
#include "TempDir.h"
#include "app/AppSettings.h"

namespace fs = std::filesystem;

namespace {

QString Plain(QString text) {
    return text.remove(QLatin1Char('&'));
}

class FirstStartTest : public MainFormTest {
  protected:
    testsupport::ScopedHome Home;
    testsupport::TempDir config;
    testsupport::ScopedEnv configHome{"XDG_CONFIG_HOME", config.Path().string()};
    TScriptedFileDialogsScope Dialogs;

    // A window with the real scan of the temporary home.
    TMainForm& Start(const TProgramOptions& options = {}) {
        Form.reset();
        TMainForm::SetScanHook(nullptr);
        Form = std::make_unique<TMainForm>(options);
        return *Form;
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const TFavoriteRow& row : Form->Favorites.Rows())
            names.push_back(row.Name);
        return names;
    }

    void ExpectRowButtonsEnabled(bool enabled) const {
        for (QPushButton* button :
             {Form->CheckAllBtn, Form->CheckBtn, Form->ShowBtn, Form->DelBtn, Form->DelAllBtn}) {
            SCOPED_TRACE(Plain(button->text()).toStdString());
            EXPECT_EQ(button->isEnabled(), enabled);
        }
    }

    // A folder of shortcuts outside the usual places.
    fs::path Elsewhere() const {
        Home.Write("Elsewhere/Zug.url", "[InternetShortcut]\nURL=http://zug.example/\n");
        return Home.Home() / "Elsewhere";
    }
};

TEST_F(FirstStartTest, AnEmptyHomeShowsTheExplanationAndTheTwoChoices) {
    TMainForm& form = Start();
    ASSERT_TRUE(form.Favorites.Empty());
    EXPECT_TRUE(form.FirstStartPanel->isVisibleTo(&form));
    QStringList texts;
    for (const QLabel* label : form.FirstStartPanel->findChildren<QLabel*>())
        texts.append(label->text());
    EXPECT_TRUE(texts.contains(QString::fromUtf8("Noch keine Favoriten gefunden.")));
    EXPECT_TRUE(form.FirstStartLabel->text().contains(QStringLiteral("~/Favorites")));
    EXPECT_EQ(Plain(form.ChooseFolderBtn->text()), QString::fromUtf8("Ordner wählen..."));
    EXPECT_EQ(Plain(form.ChooseBookmarksBtn->text()),
              QString::fromUtf8("Lesezeichen-Datei öffnen..."));
    ExpectRowButtonsEnabled(false);
    EXPECT_TRUE(Boxes->Shown.empty());
}

TEST_F(FirstStartTest, AChosenFolderIsReadAndRememberedForTheNextStart) {
    const fs::path folder = Elsewhere();
    Start();
    Dialogs->Answers = {QString::fromStdString(folder.string())};
    Form->ChooseFolderBtn->click();
    ASSERT_EQ(Dialogs->Asked.size(), 1u);
    EXPECT_EQ(Dialogs->Asked[0], "folder " + Home.Home().string());
    EXPECT_EQ(Names(), std::vector<std::string>{"Zug"});
    EXPECT_FALSE(Form->FirstStartPanel->isVisibleTo(Form.get()));
    ExpectRowButtonsEnabled(true);
    EXPECT_TRUE(fs::exists(config.Path() / "quorvane" / "quorvane.conf"));

    {
        SCOPED_TRACE("the next start reads the remembered folder");
        Start();
        EXPECT_EQ(Names(), std::vector<std::string>{"Zug"});
        EXPECT_EQ(Dialogs->Asked.size(), 1u);  // no dialog this time
    }
    {
        SCOPED_TRACE("a folder on the command line wins");
        TProgramOptions options;
        options.FavoritesFolder = (Home.Home() / "Favorites").string();
        Home.Write("Favorites/Kurz.url", "[InternetShortcut]\nURL=http://kurz.example/\n");
        Start(options);
        EXPECT_EQ(Names(), std::vector<std::string>{"Kurz"});
    }
    {
        SCOPED_TRACE("the standard sources again, through the Quelle menu");
        Start();
        ASSERT_NE(Form->SourceBtn->menu(), nullptr);
        const QList<QAction*> actions = Form->SourceBtn->menu()->actions();
        ASSERT_EQ(actions.size(), 4);  // folder, bookmark file, separator, standard
        actions[3]->trigger();
        EXPECT_EQ(Names(), std::vector<std::string>{"Kurz"});  // ~/Favorites
        Start();
        EXPECT_EQ(Names(), std::vector<std::string>{"Kurz"});
    }
}

TEST_F(FirstStartTest, AChosenBookmarkFileIsReadAndRemembered) {
    const fs::path file = Home.Write("Export/bookmarks.html",
                                     "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n"
                                     "<DT><A HREF=\"https://export.example/\">Export</A>\n</DL>\n");
    Start();
    Dialogs->Answers = {QString::fromStdString(file.string())};
    Form->ChooseBookmarksBtn->click();
    ASSERT_EQ(Dialogs->Asked.size(), 1u);
    EXPECT_EQ(Dialogs->Asked[0].rfind("bookmarks ", 0), 0u);
    EXPECT_EQ(Names(), std::vector<std::string>{"Export"});
    ExpectRowButtonsEnabled(true);

    Start();
    EXPECT_EQ(Names(), std::vector<std::string>{"Export"});
    EXPECT_EQ(Dialogs->Asked.size(), 1u);
}

TEST_F(FirstStartTest, ACancelledDialogChangesNothing) {
    Start();
    Form->ChooseFolderBtn->click();
    Form->ChooseBookmarksBtn->click();
    EXPECT_EQ(Dialogs->Asked.size(), 2u);
    EXPECT_TRUE(Form->Favorites.Empty());
    EXPECT_TRUE(Form->FirstStartPanel->isVisibleTo(Form.get()));
    EXPECT_TRUE(LoadRememberedSource().Empty());
}

TEST_F(FirstStartTest, TheSourceButtonIsInTheBottomBarWithAMnemonic) {
    TMainForm& form = Start();
    EXPECT_EQ(form.SourceBtn->text(), QStringLiteral("&Quelle..."));
    EXPECT_TRUE(form.BottomPanel->isAncestorOf(form.SourceBtn));
    EXPECT_EQ(form.SourceBtn->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    // Filling the list from elsewhere hides the panel; emptying it shows it again.
    form.Favorites.Append(FixtureRow(1));
    EXPECT_FALSE(form.FirstStartPanel->isVisibleTo(&form));
    ExpectRowButtonsEnabled(true);
    form.Favorites.Remove(0);
    EXPECT_TRUE(form.FirstStartPanel->isVisibleTo(&form));
    ExpectRowButtonsEnabled(false);
}

}  // namespace
