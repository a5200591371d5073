// The keyboard and the context menus: the Tab order, the buttons' Alt keys, the list's
// command keys and the row menu's entries, on rows with real shortcut files whose addresses
// go to a loopback port that refuses, so that a check run ends at once.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <map>
#include <set>

#include "MainFormFixture.h"
#include "ScopedHome.h"
#include "ScriptedServer.h"
#include "app/FavoriteModel.h"
#include "app/FileManager.h"
#include "app/ImageBtnUnit.h"

namespace {

// The entry of menu whose text, without its '&' and the key named after a tab, is text.
QAction* Entry(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
        if (action->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')) == text)
            return action;
    ADD_FAILURE() << "no entry " << text.toStdString();
    return nullptr;
}

class MenuWindowTest : public MainFormTest {
  protected:
    testsupport::ScopedHome Home;
    testsupport::RefusingPort Refusing;
    std::vector<std::string> Shown;  // files handed to the file manager
    TFileManagerHandler previousFileManager_;

    void SetUp() override {
        MainFormTest::SetUp();
        previousFileManager_ =
            SetFileManagerHandler([this](const std::string& file) { Shown.push_back(file); });
    }
    void TearDown() override {
        MainFormTest::TearDown();
        SetFileManagerHandler(previousFileManager_);
    }

    std::string Address(const std::string& name) const {
        return "http://127.0.0.1:" + std::to_string(Refusing.Port()) + "/" + name;
    }

    // Rows a, b, c with shortcut files, and the browser bookmark d without one.
    TMainForm& CreateRows() {
        TMainForm& form = CreateShown();
        std::vector<TFavoriteRow> rows;
        for (std::string name : {"a", "b", "c"}) {
            const auto file = Home.Write("Favorites/" + name + ".url",
                                         "[InternetShortcut]\nURL=" + Address(name) + "\n");
            rows.push_back({name, "", "???", Address(name), file.string(), 0});
        }
        TFavoriteRow bookmark{"d", "Lesezeichen/", "???", Address("d"), "firefox#7", 0};
        bookmark.Bookmark = true;
        rows.push_back(bookmark);
        form.ProgramDir = Home.Home().string() + "/";
        form.Favorites.Assign(rows);
        form.ListView1->setFocus();
        return form;
    }

    // Sends the key to the list; true when something took it.
    bool Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(Form->ListView1, &press);
        return press.isAccepted();
    }

    std::string Statuses() const {
        std::string statuses;
        for (const auto& row : Form->Favorites.Rows())
            statuses += (statuses.empty() ? "" : " ") + row.Datum;
        return statuses;
    }
};

}  // namespace

TEST_F(MainFormTest, TabWalksEveryControlInReadingOrder) {
    TMainForm& form = CreateShown(3);
    auto walk = [&](int steps) {
        std::vector<QWidget*> seen;
        form.CheckAllBtn->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < steps; ++i) {
            seen.push_back(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        seen.push_back(QApplication::focusWidget());
        return seen;
    };
    // Idle, the cancel buttons are disabled and left out; the walk comes round again.
    std::vector<QWidget*> idle{form.CheckAllBtn, form.ShowBtn,    form.CheckBtn,  form.DelBtn,
                               form.DelAllBtn,   form.DelCheck,   form.ListView1, form.Memo1,
                               form.wwwBtn,      form.ReloadBtn,  form.SourceBtn, form.ueberbtn,
                               form.endebtn,     form.CheckAllBtn};
    EXPECT_EQ(walk(13), idle);
    form.ShowRunState(true);
    std::vector<QWidget*> running{form.CheckAllBtn, form.BreakBtn, form.ShowBtn,
                                  form.AbortBtn,    form.DelBtn,   form.DelAllBtn};
    std::vector<QWidget*> seen = walk(5);
    EXPECT_EQ(seen, running);
    form.ShowRunState(false);
}

// With no rows the check buttons are disabled and the first-start buttons stand over the list.
TEST_F(MainFormTest, TabReachesTheFirstStartButtons) {
    TMainForm& form = CreateShown();
    form.DelCheck->setFocus(Qt::TabFocusReason);
    std::vector<QWidget*> seen;
    for (int i = 0; i < 10; ++i) {
        seen.push_back(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    seen.push_back(QApplication::focusWidget());
    const std::vector<QWidget*> expected{
        form.DelCheck, form.ChooseFolderBtn, form.ChooseBookmarksBtn, form.ListView1, form.Memo1,
        form.wwwBtn,   form.ReloadBtn,       form.SourceBtn,          form.ueberbtn,  form.endebtn,
        form.DelCheck};
    EXPECT_EQ(seen, expected);
}

TEST_F(MainFormTest, ImageButtonsWorkFromTheKeyboard) {
    TMainForm& form = CreateShown();
    EXPECT_EQ(form.ueberbtn->accessibleName(), "Info");
    EXPECT_EQ(form.endebtn->accessibleName(), "Beenden");
    form.endebtn->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return form.endebtn->hasFocus(); }));
    QTest::keyClick(form.endebtn, Qt::Key_Space);
    EXPECT_FALSE(form.isVisible());  // "Beenden" closed the window
}

TEST_F(MainFormTest, EveryButtonHasItsOwnAltKey) {
    TMainForm& form = CreateShown();
    const struct {
        QAbstractButton* button;
        Qt::Key key;
    } buttons[] = {
        {form.CheckAllBtn, Qt::Key_A},       {form.BreakBtn, Qt::Key_B}, {form.ShowBtn, Qt::Key_W},
        {form.CheckBtn, Qt::Key_Udiaeresis}, {form.AbortBtn, Qt::Key_D}, {form.DelBtn, Qt::Key_L},
        {form.DelAllBtn, Qt::Key_F},         {form.DelCheck, Qt::Key_S},
    };
    std::map<QString, QString> owners;  // mnemonic -> the button's text
    for (QAbstractButton* button : form.findChildren<QAbstractButton*>()) {
        const QString mnemonic = QKeySequence::mnemonic(button->text()).toString();
        if (mnemonic.isEmpty())
            continue;
        auto [at, added] = owners.emplace(mnemonic, button->text());
        EXPECT_TRUE(added) << mnemonic.toStdString() << " for " << button->text().toStdString()
                           << " and " << at->second.toStdString();
    }
    // The source buttons (Ordner wählen, Lesezeichen-Datei öffnen, Quelle) open dialogs and a
    // menu: their keys only have to be their own.
    EXPECT_EQ(owners.size(), std::size(buttons) + 3);
    // No rows: the buttons' work is done at once, and nothing asks.
    form.ListView1->setFocus();
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return form.ListView1->hasFocus(); }));
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.button->text().toStdString());
        b.button->setEnabled(true);
        QSignalSpy clicks(b.button, &QAbstractButton::clicked);
        QTest::keyClick(QApplication::focusWidget(), b.key, Qt::AltModifier);
        // The button shows itself pressed for a moment before the click.
        EXPECT_TRUE(testsupport::RunLoopUntil([&] { return clicks.count() > 0; }));
        EXPECT_EQ(clicks.count(), 1);
    }
}

TEST_F(MenuWindowTest, ListKeysVisitDeleteCheckAndCopy) {
    TMainForm& form = CreateRows();

    Select({1});
    EXPECT_TRUE(Key(Qt::Key_Return));
    EXPECT_EQ(Opened, std::vector<std::string>{Address("b")});

    Select({0, 2});
    EXPECT_TRUE(Key(Qt::Key_C, Qt::ControlModifier));
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), Address("a") + "\n" + Address("c"));

    EXPECT_TRUE(Key(Qt::Key_F5));  // the selection only
    EXPECT_EQ(Statuses(), "FAILED ??? FAILED ???");

    Form->ListView1->selectionModel()->clearSelection();
    EXPECT_TRUE(Key(Qt::Key_F5));  // nothing selected: the list is read anew, verdicts kept
    EXPECT_EQ(Statuses(), "FAILED ??? FAILED ???");

    EXPECT_TRUE(Key(Qt::Key_F5, Qt::ShiftModifier));  // every row
    EXPECT_EQ(Statuses(), "FAILED FAILED FAILED FAILED");

    Select({0});
    Boxes->Answers = {TMsgAnswer::Yes};
    EXPECT_TRUE(Key(Qt::Key_Delete));
    ASSERT_EQ(Boxes->Shown.size(), 1u);  // "Sicherheitsabfrage" is on: it asks first
    EXPECT_EQ(form.Favorites.Count(), 3u);
    EXPECT_EQ(form.Favorites[0].Name, "b");
}

TEST_F(MenuWindowTest, RowMenuEntriesFollowTheSelectionAndDoTheirWork) {
    TMainForm& form = CreateRows();
    QMenu* menu = form.RowMenu;
    ASSERT_NE(menu, nullptr);
    const QString entries[] = {"Besuchen", QString::fromUtf8("Überprüfen"),
                               QString::fromUtf8("Löschen..."), "Adresse kopieren",
                               "Im Dateimanager zeigen"};
    auto enabled = [&] {
        emit menu->aboutToShow();
        std::string states;
        for (const QString& text : entries)
            states += Entry(menu, text)->isEnabled() ? '1' : '0';
        return states;
    };
    EXPECT_EQ(enabled(), "00000");  // nothing selected
    Select({3});
    EXPECT_EQ(enabled(), "11110");  // a bookmark has no file to show
    Select({1});
    EXPECT_EQ(enabled(), "11111");
    form.Checking = true;
    EXPECT_EQ(enabled(), "10011");  // no second run, no deleting during a run
    form.Checking = false;

    EXPECT_EQ(enabled(), "11111");
    Entry(menu, "Besuchen")->trigger();
    EXPECT_EQ(Opened, std::vector<std::string>{Address("b")});
    Entry(menu, "Adresse kopieren")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), Address("b"));
    Entry(menu, "Im Dateimanager zeigen")->trigger();
    EXPECT_EQ(Shown, std::vector<std::string>{form.Favorites[1].Datei});
    Entry(menu, QString::fromUtf8("Überprüfen"))->trigger();
    EXPECT_EQ(Statuses(), "??? FAILED ??? ???");
    Boxes->Answers = {TMsgAnswer::Yes};
    Entry(menu, QString::fromUtf8("Löschen..."))->trigger();
    EXPECT_EQ(form.Favorites.Count(), 3u);
    EXPECT_EQ(form.Favorites[1].Name, "c");
}

TEST_F(MenuWindowTest, RightClickOnARowSelectsItAndOpensTheMenu) {
    TMainForm& form = CreateRows();
    const QPoint at = form.ListView1->visualRect(form.ListModel->index(2, 0)).center();
    QTest::mouseClick(form.ListView1->viewport(), Qt::RightButton, {}, at);
    EXPECT_TRUE(form.RowSelected(2));
    // The desktop follows a right click with this event.
    QContextMenuEvent request(QContextMenuEvent::Mouse, at,
                              form.ListView1->viewport()->mapToGlobal(at));
    QApplication::sendEvent(form.ListView1->viewport(), &request);
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return form.RowMenu->isVisible(); }));
    EXPECT_TRUE(Entry(form.RowMenu, "Im Dateimanager zeigen")->isEnabled());
    form.RowMenu->close();
}
