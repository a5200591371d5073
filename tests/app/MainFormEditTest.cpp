// Deleting, visiting and sorting in the real window, on the offscreen platform with a
// temporary HOME: the files really go to the freedesktop trash there.
#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeView>
#include <QUrl>
#include <filesystem>

#include "MainFormFixture.h"
#include "ScopedHome.h"
#include "TempDir.h"
#include "app/FavoriteModel.h"
#include "app/core/FavoriteEdit.h"
#include "app/core/FavoriteScan.h"

namespace fs = std::filesystem;

namespace {

// The texts themselves are pinned by the delete logic's own tests.
QString AskSelected(std::size_t files) {
    return QString::fromStdString(AskDeleteSelectedPrompt(files).Text);
}
QString AskFailed(std::size_t files) {
    return QString::fromStdString(AskDeleteFailedPrompt(files).Text);
}

void ExpectQuestion(const TMessageBoxRequest& box, const QString& text) {
    EXPECT_EQ(box.Text, text);
    EXPECT_EQ(box.Caption, QString::fromUtf8("Dateien löschen"));
    EXPECT_EQ(box.Buttons, TMsgButtons::YesNo);
    EXPECT_EQ(box.Icon, TMsgIcon::Question);
}

void ExpectReport(const TMessageBoxRequest& box, const std::string& text) {
    EXPECT_EQ(box.Text, QString::fromStdString(text));
    EXPECT_TRUE(box.Caption.isEmpty());  // no caption of its own
    EXPECT_EQ(box.Buttons, TMsgButtons::Ok);
    EXPECT_EQ(box.Icon, TMsgIcon::None);
}

// A window whose rows a, b, c... have real shortcut files below a temporary HOME.
class EditWindowTest : public MainFormTest {
  protected:
    testsupport::ScopedHome Home;

    TMainForm& CreateWith(const std::vector<std::string>& statuses) {
        TMainForm& form = Create();
        form.ProgramDir = Home.Home().string() + "/";  // the result file stays in the test's home
        Refill(statuses);
        return form;
    }

    void Refill(const std::vector<std::string>& statuses) {
        std::vector<TFavoriteRow> rows;
        for (std::size_t i = 0; i < statuses.size(); ++i) {
            std::string name(1, static_cast<char>('a' + i));
            std::string address = "http://" + name + ".example/";
            fs::path file = Home.Write("Favorites/" + name + ".url",
                                       "[InternetShortcut]\nURL=" + address + "\n");
            rows.push_back({name, "", statuses[i], address, file.string(), 0});
        }
        Form->Favorites.Assign(rows);
    }

    std::string Names() const {
        std::string names;
        for (const auto& r : Form->Favorites.Rows())
            names += r.Name;
        return names;
    }

    std::vector<int> SelectedRows() const {
        std::vector<int> rows;
        for (std::size_t i = 0; i < Form->Favorites.Count(); ++i) {
            if (Form->RowSelected(i))
                rows.push_back(static_cast<int>(i));
        }
        return rows;
    }

    fs::path File(const std::string& name) const {
        return Home.Home() / "Favorites" / (name + ".url");
    }
    fs::path Trashed(const std::string& name) const {
        return Home.Home() / ".local/share/Trash/files" / (name + ".url");
    }
    // The original path that the trash's record names, so the desktop can restore the file.
    std::string RestorePath(const std::string& name) const {
        std::string info = testsupport::ReadFileBytes(Home.Home() / ".local/share/Trash/info" /
                                                      (name + ".url.trashinfo"));
        auto at = info.find("\nPath=");
        if (at == std::string::npos)
            return "";
        auto end = info.find('\n', at + 1);
        QByteArray encoded = QByteArray::fromStdString(info.substr(at + 6, end - at - 6));
        return QUrl::fromPercentEncoding(encoded).toStdString();
    }

    void Key(int key, Qt::KeyboardModifiers modifiers) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(Form->ListView1, &press);
    }

    // A real click on a column header, so the header's own indicator handling runs too.
    void ClickHeader(int column) {
        QHeaderView* header = Form->ListView1->header();
        QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                  header->height() / 2);
        QPointF global = header->viewport()->mapToGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(header->viewport(), &press);
        QApplication::sendEvent(header->viewport(), &release);
    }
};

}  // namespace

TEST_F(EditWindowTest, DeleteSelectedWithAndWithoutTheQuestion) {
    struct Case {
        const char* what;
        bool safetyQuestion;
        std::initializer_list<int> selected;
        TMsgAnswer answer;
        std::size_t questions;
        std::string remaining;
    } cases[] = {
        {"asked, Yes", true, {1, 3}, TMsgAnswer::Yes, 1, "ace"},
        {"asked, No", true, {1, 3}, TMsgAnswer::No, 1, "abcde"},
        {"not asked", false, {1, 3}, TMsgAnswer::No, 0, "ace"},
        {"nothing selected", true, {}, TMsgAnswer::Yes, 0, "abcde"},
    };
    TMainForm& form = CreateWith({});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(Home.Home() / ".local");
        Refill({"OK", "OK", "OK", "OK", "OK"});
        Select(c.selected);
        form.DelCheck->setChecked(c.safetyQuestion);
        Boxes->Shown.clear();
        Boxes->Answers = {c.answer};
        form.DelBtn->click();
        EXPECT_EQ(Boxes->Shown.size(), c.questions);
        if (c.questions && !Boxes->Shown.empty()) {
            ExpectQuestion(Boxes->Shown[0], AskSelected(2));
        }
        EXPECT_EQ(Names(), c.remaining);
        for (std::string name : {"a", "b", "c", "d", "e"}) {
            bool deleted = c.remaining.find(name) == std::string::npos;
            EXPECT_EQ(fs::exists(File(name)), !deleted) << name;
            EXPECT_EQ(fs::exists(Trashed(name)), deleted) << name;
            if (deleted) {
                EXPECT_EQ(RestorePath(name), File(name).string());
            }
        }
    }
}

TEST_F(EditWindowTest, ADesktopLinkGoesToTheTrashLikeAShortcut) {
    TMainForm& form = CreateWith({});
    const fs::path link = Home.Write("Favorites/Link.desktop",
                                     "[Desktop Entry]\nType=Link\nURL=http://link.example/\n");
    TFavoriteScanner(form.Favorites).FavoritenEinlesen();
    ASSERT_EQ(Names(), "Link");
    Select({0});
    form.DelCheck->setChecked(false);
    form.DelBtn->click();
    EXPECT_TRUE(form.Favorites.Empty());
    EXPECT_FALSE(fs::exists(link));
    EXPECT_EQ(testsupport::ReadFileBytes(Home.Home() / ".local/share/Trash/files/Link.desktop"),
              "[Desktop Entry]\nType=Link\nURL=http://link.example/\n");
}

TEST_F(EditWindowTest, AFileThatCannotBeMovedKeepsItsRowWithOneMessage) {
    TMainForm& form = CreateWith({"OK", "FAILED", "OK", "FAILED"});
    fs::remove(File("a"));
    fs::remove(File("b"));
    Select({0, 1, 2});
    Boxes->Answers = {TMsgAnswer::Yes};
    form.DelBtn->click();
    EXPECT_EQ(Names(), "abd");
    ASSERT_EQ(Boxes->Shown.size(), 3u);
    ExpectReport(Boxes->Shown[1], "Konnte Datei nicht löschen!");
    ExpectReport(Boxes->Shown[2], "Konnte Datei nicht löschen!");

    Boxes->Shown.clear();
    Boxes->Answers = {TMsgAnswer::Yes};
    form.DelAllBtn->click();
    EXPECT_EQ(Names(), "ab");  // d went; b's file is gone, so its row stays
    ASSERT_EQ(Boxes->Shown.size(), 2u);
    ExpectQuestion(Boxes->Shown[0], AskFailed(2));
    ExpectReport(Boxes->Shown[1], "Konnte Datei " + File("b").string() + " nicht löschen!");
}

TEST_F(EditWindowTest, DeleteAllFailedTakesOnlyExactlyFailedAndAsksWhenTheCheckBoxSays) {
    const std::vector<std::string> statuses = {
        "FAILED", "failed", "???", "2002/10/09; 10:10:10 GMT", "FAILED", "OK"};
    TMainForm& form = CreateWith(statuses);
    Boxes->Answers = {TMsgAnswer::No};
    form.DelAllBtn->click();
    EXPECT_EQ(Names(), "abcdef");
    Boxes->Answers = {TMsgAnswer::Yes};
    form.DelAllBtn->click();
    EXPECT_EQ(Names(), "bcdf");
    EXPECT_TRUE(fs::exists(Trashed("a")));
    EXPECT_TRUE(fs::exists(Trashed("e")));
    ASSERT_EQ(Boxes->Shown.size(), 2u);
    for (const auto& box : Boxes->Shown)
        ExpectQuestion(box, AskFailed(2));
    // With none left there is nothing to ask; the box says so.
    Boxes->Shown.clear();
    form.DelAllBtn->click();
    ASSERT_EQ(Boxes->Shown.size(), 1u);
    EXPECT_EQ(Boxes->Shown[0].Text, QString::fromUtf8("Keine Datei ist mit FAILED markiert."));
    EXPECT_EQ(Boxes->Shown[0].Buttons, TMsgButtons::Ok);
    EXPECT_EQ(Names(), "bcdf");

    // "Sicherheitsabfrage" unticked: no question, as for "Löschen...".
    fs::remove_all(Home.Home() / ".local");
    Refill(statuses);
    form.DelCheck->setChecked(false);
    Boxes->Shown.clear();
    form.DelAllBtn->click();
    EXPECT_TRUE(Boxes->Shown.empty());
    EXPECT_EQ(Names(), "bcdf");
    EXPECT_TRUE(fs::exists(Trashed("a")));
}

TEST_F(EditWindowTest, CtrlAThenDeleteEmptiesTheList) {
    TMainForm& form = CreateWith({"OK", "???", "FAILED"});
    Key(Qt::Key_A, Qt::NoModifier);
    EXPECT_TRUE(SelectedRows().empty());  // a plain A is the list's own keyboard search
    Key(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 1, 2}));
    Boxes->Answers = {TMsgAnswer::Yes};
    form.DelBtn->click();
    EXPECT_TRUE(form.Favorites.Empty());
    for (std::string name : {"a", "b", "c"})
        EXPECT_TRUE(fs::exists(Trashed(name))) << name;
}

TEST_F(EditWindowTest, DeletingIsRefusedDuringACheckRun) {
    TMainForm& form = CreateWith({"FAILED", "FAILED"});
    Select({0});
    form.Checking = true;
    Boxes->Answers = {TMsgAnswer::Yes, TMsgAnswer::Yes};
    form.DelBtn->click();
    form.DelAllBtn->click();
    form.Checking = false;
    EXPECT_TRUE(Boxes->Shown.empty());
    EXPECT_EQ(Names(), "ab");
}

TEST_F(EditWindowTest, VisitingOpensOnlyTheTopmostSelectedRow) {
    TMainForm& form = CreateWith({"OK", "OK", "OK", "OK"});
    form.ShowBtn->click();
    EXPECT_TRUE(Opened.empty());
    Select({3, 1, 2});
    form.ShowBtn->click();
    EXPECT_EQ(Opened, std::vector<std::string>{"http://b.example/"});
    // A double click in the list does the same.
    QPoint at = form.ListView1->visualRect(form.ListModel->index(1, 0)).center();
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, form.ListView1->viewport()->mapToGlobal(at),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.ListView1->viewport(), &dbl);
    EXPECT_EQ(Opened, (std::vector<std::string>{"http://b.example/", "http://b.example/"}));
}

TEST_F(EditWindowTest, HeaderClicksSortKeepTheSelectionByPositionAndShowTheState) {
    TMainForm& form = CreateWith({"OK", "FAILED", "2002/10/09; 10:10:10 GMT", "???"});
    QHeaderView* header = form.ListView1->header();
    EXPECT_FALSE(header->isSortIndicatorShown());
    Select({0, 2});
    ClickHeader(0);
    EXPECT_EQ(Names(), "dcba");
    EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 2}));  // now d and b
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);

    ClickHeader(2);
    EXPECT_EQ(Names(), "cdba");  // the date text, ???, FAILED, OK
    EXPECT_EQ(header->sortIndicatorSection(), 2);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);

    form.Checking = true;
    ClickHeader(2);
    ClickHeader(0);
    form.Checking = false;
    EXPECT_EQ(Names(), "cdba");
    EXPECT_EQ(form.SortColumn, 2);
    EXPECT_FALSE(form.SortDescending);
    EXPECT_EQ(header->sortIndicatorSection(), 2);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
}
