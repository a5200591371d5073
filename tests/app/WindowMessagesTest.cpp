// What the window tells the user when the desktop cannot open an address, and the one line
// of the program started without a display.
#include <gtest/gtest.h>

#include <QItemSelectionModel>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>

#include "MainFormFixture.h"
#include "ProgramRun.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "app/DisplayCheck.h"
#include "app/HomePage.h"

namespace {

class BrowserMissingTest : public MainFormTest {
  protected:
    void SetUp() override {
        MainFormTest::SetUp();
        SetShellOpenHandler([this](const std::string& target) {
            Opened.push_back(target);
            throw EShellOpenFailed("xdg-open ist nicht installiert");
        });
    }

    void ExpectOneBoxNaming(const std::string& address) {
        ASSERT_EQ(Boxes->Shown.size(), 1u);
        const std::string text = Boxes->Shown[0].Text.toStdString();
        EXPECT_NE(text.find(address), std::string::npos) << text;
        EXPECT_NE(text.find("xdg-open ist nicht installiert"), std::string::npos) << text;
        EXPECT_NE(text.find("xdg-utils"), std::string::npos) << text;
        EXPECT_EQ(Boxes->Shown[0].Icon, TMsgIcon::Warning);
        EXPECT_EQ(Boxes->Shown[0].Buttons, TMsgButtons::Ok);
    }
};

// A bookmark row is visited by the address it holds, with no file to read first.
TEST_F(BrowserMissingTest, VisitingARowSaysWhichAddressAndWhatToInstall) {
    TMainForm::SetScanHook([](TMainForm& form) {
        TFavoriteRow row = FixtureRow(7);
        row.Bookmark = true;
        form.Favorites.Append(row);
    });
    Form = std::make_unique<TMainForm>();
    Form->ListView1->selectionModel()->select(
        Form->ListView1->model()->index(0, 0),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Form->ShowBtn->click();
    ASSERT_EQ(Opened, std::vector<std::string>{"https://s7.example/"});
    ExpectOneBoxNaming("https://s7.example/");
}

TEST_F(BrowserMissingTest, TheHomePageButtonSaysSoToo) {
    TMainForm& form = Create();
    form.wwwBtn->click();
    ASSERT_EQ(Opened, std::vector<std::string>{kHomePageURL});
    ExpectOneBoxNaming(kHomePageURL);
}

TEST(CannotOpenText, AnAddressIsForTheBrowserAFileForItsProgram) {
    const std::string address = CannotOpenText("https://example.org/", "kaputt");
    EXPECT_EQ(address.rfind("Die Adresse\nhttps://example.org/\nkonnte nicht im Browser "
                            "geöffnet werden: kaputt.",
                            0),
              0u)
        << address;
    const std::string file = CannotOpenText("/home/a/b.txt", "");
    EXPECT_EQ(file.rfind("„/home/a/b.txt“ konnte nicht geöffnet werden.", 0), 0u) << file;
    EXPECT_NE(file.find("xdg-utils"), std::string::npos);
}

// The real desktop with nothing on the PATH: no xdg-open, no browser to fall back to.
TEST_F(MainFormTest, WithoutXdgOpenOnThePathTheDesktopFailsAndSaysSo) {
    testsupport::TempDir empty;
    testsupport::ScopedEnv path("PATH", empty.Path().string());
    testsupport::ScopedEnv browser("BROWSER", "");
    testsupport::ScopedEnv defaultBrowser("DEFAULT_BROWSER", "");
    SetShellOpenHandler(nullptr);
    ShellOpen(nullptr, "https://nowhere.example/");
    ASSERT_EQ(Boxes->Shown.size(), 1u);
    EXPECT_NE(Boxes->Shown[0].Text.toStdString().find("https://nowhere.example/"),
              std::string::npos);
}

TEST(NoDisplayLine, OnlyADisplayServerPlatformWithoutADisplayIsRefused) {
    const std::string x11 =
        "quorvane: keine grafische Anzeige gefunden (DISPLAY ist nicht gesetzt); ohne Fenster "
        "prüft quorvane-check die Favoriten.";
    const struct {
        const char* name;
        TDisplayEnv env;
        std::string line;
    } cases[] = {
        {"nothing at all", {"", "", ""}, x11},
        {"X11", {":0", "", ""}, ""},
        {"Wayland", {"", "wayland-0", ""}, ""},
        {"xcb asked for, no display", {"", "", "xcb"}, x11},
        {"wayland asked for, no display",
         {"", "", "wayland"},
         "quorvane: keine grafische Anzeige gefunden (WAYLAND_DISPLAY ist nicht gesetzt); ohne "
         "Fenster prüft quorvane-check die Favoriten."},
        {"offscreen", {"", "", "offscreen"}, ""},
        {"vnc", {"", "", "vnc:size=800x600"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NoDisplayLine(c.env), c.line);
    }
}

TEST(NoDisplayLine, ThePlatformArgumentCounts) {
    testsupport::ScopedEnv platform("QT_QPA_PLATFORM", "");
    const char* argv[] = {"quorvane", "-platform", "offscreen", nullptr};
    EXPECT_EQ(CurrentDisplayEnv(3, const_cast<char**>(argv)).Platform, "offscreen");
}

TEST(NoDisplayLine, TheProgramSaysItInOneLineAndEndsWithOne) {
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string out, err;
    } cases[] = {
        {{},
         1,
         "",
         "quorvane: keine grafische Anzeige gefunden (DISPLAY ist nicht gesetzt); ohne Fenster "
         "prüft quorvane-check die Favoriten.\n"},
        {{"--version"}, 0, "quorvane 1.0", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args[0]);
        testsupport::TProgramRun run;
        run.program = QV_WINDOW_PROGRAM;
        run.args = c.args;
        run.env = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
        const testsupport::TProgramOutcome outcome = testsupport::RunProgram(run);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(outcome.errors, c.err);
        EXPECT_EQ(outcome.lines,
                  c.out.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.out});
    }
}

}  // namespace
