// The log as a user reads it: the block of the selected row, the log's menu, the last run's
// counts and the progress label. Runs are played to the window's view as the check run
// reports them, so that the log's length and the verdicts are the test's own.
#include <QImage>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextBlock>
#include <QTreeView>

#include "MainFormFixture.h"
#include "app/FavoriteModel.h"
#include "app/StatusBar.h"

namespace {

// One run over rows as the check run reports it: each row gets its verdict, then its block
// of three lines.
void PlayRun(TMainForm& form, const std::vector<std::size_t>& rows,
             const std::string& verdict = "OK") {
    TMainFormCheck& view = form.CheckRun;
    view.RunStateChanged(true);
    ReportProgress(view, 0, rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        form.Favorites.SetDatum(rows[i], verdict);
        view.RowBlock(rows[i], i + 1, rows.size());
        for (const char* line : {"StatusCode = 200", "HTTP/1.0 200 OK", "Server: test"})
            view.Log(line);
        ReportProgress(view, i + 1, rows.size());
    }
    view.RunStateChanged(false);
}

std::vector<std::size_t> Range(std::size_t first, std::size_t last) {
    std::vector<std::size_t> rows;
    for (std::size_t row = first; row <= last; ++row)
        rows.push_back(row);
    return rows;
}

std::size_t RowNamed(TMainForm& form, const std::string& name) {
    for (std::size_t row = 0; row < form.Favorites.Count(); ++row)
        if (form.Favorites[row].Name == name)
            return row;
    ADD_FAILURE() << "no row " << name;
    return 0;
}

void SelectRow(TMainForm& form, std::size_t row) {
    form.ListView1->selectionModel()->setCurrentIndex(
        form.ListModel->index(static_cast<int>(row), 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// The line at the top of the log's visible part.
std::string TopLine(TMainForm& form) {
    return form.Memo1->cursorForPosition(QPoint(2, 2)).block().text().toStdString();
}

QAction* LogMenuEntry(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
        if (action->text().section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')) == text)
            return action;
    return nullptr;
}

}  // namespace

TEST_F(MainFormTest, SelectingARowShowsItsLastBlockAtTheTopOfTheLog) {
    TMainForm& form = CreateShown(40);
    PlayRun(form, Range(0, 39));
    PlayRun(form, Range(10, 19));

    SelectRow(form, 15);  // checked twice: the second run's block
    EXPECT_EQ(TopLine(form), "[6/10] Ordner/Seite 15 <https://s15.example/>");
    SelectRow(form, 30);  // checked once
    EXPECT_EQ(TopLine(form), "[31/40] Ordner/Seite 30 <https://s30.example/>");

    // Sorted the other way round, the rows keep their blocks.
    for (int click = 0; click < 2 && form.Favorites[0].Name == "Seite 0"; ++click)
        form.ListView1ColumnClick(0);
    ASSERT_NE(form.Favorites[0].Name, "Seite 0");
    SelectRow(form, RowNamed(form, "Seite 12"));
    EXPECT_EQ(TopLine(form), "[3/10] Ordner/Seite 12 <https://s12.example/>");

    // Lines the user typed into the log move the blocks; they are found all the same.
    QTextCursor start(form.Memo1->document());
    start.insertText(QStringLiteral("eine Notiz\nund noch eine\n"));
    SelectRow(form, RowNamed(form, "Seite 20"));
    EXPECT_EQ(TopLine(form), "[21/40] Ordner/Seite 20 <https://s20.example/>");
    SelectRow(form, RowNamed(form, "Seite 17"));
    EXPECT_EQ(TopLine(form), "[8/10] Ordner/Seite 17 <https://s17.example/>");
}

TEST_F(MainFormTest, LogMenuClearsTheLogAndTheRowsForgetTheirBlocks) {
    TMainForm& form = CreateShown(30);
    PlayRun(form, Range(0, 29));
    std::unique_ptr<QMenu> menu(form.CreateLogMenu());
    for (const char* text : {"Kopieren", "Alles auswählen", "Log leeren"})
        EXPECT_NE(LogMenuEntry(menu.get(), QString::fromUtf8(text)), nullptr) << text;
    QAction* clear = LogMenuEntry(menu.get(), QStringLiteral("Log leeren"));
    ASSERT_NE(clear, nullptr);
    EXPECT_TRUE(clear->isEnabled());
    clear->trigger();
    EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());

    SelectRow(form, 5);  // its block is gone with the log
    EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());
    EXPECT_FALSE(form.CheckRun.ShowBlockOf(5));

    // The next run's blocks are found from a log that starts afresh.
    PlayRun(form, Range(3, 8));
    SelectRow(form, 6);
    EXPECT_EQ(TopLine(form), "[4/6] Ordner/Seite 6 <https://s6.example/>");
    std::unique_ptr<QMenu> again(form.CreateLogMenu());
    form.Memo1->selectAll();
    std::unique_ptr<QMenu> withSelection(form.CreateLogMenu());
    EXPECT_TRUE(LogMenuEntry(withSelection.get(), "Kopieren")->isEnabled());
}

TEST_F(MainFormTest, StatusBarShowsTheLastRunsCountsAndTheProgressLabel) {
    TMainForm& form = CreateShown(8);
    const std::pair<const char*, std::vector<std::size_t>> verdicts[] = {
        {"OK", {0, 1}},        {"2002/10/09; 10:10:10 GMT", {2}},
        {"FAILED", {3, 4, 5}}, {"BLOCKED", {6}},
        {"SKIPPED", {7}},
    };
    TMainFormCheck& view = form.CheckRun;
    view.RunStateChanged(true);
    std::size_t done = 0;
    for (const auto& [verdict, rows] : verdicts) {
        for (std::size_t row : rows) {
            form.Favorites.SetDatum(row, verdict);
            view.RowBlock(row, ++done, 8);
            ReportProgress(view, done, 8);
        }
    }
    EXPECT_EQ(form.ProgressLabel, "8 / 8");
    view.RunStateChanged(false);
    EXPECT_EQ(form.StatusBar1->PanelText(2),
              "Letzte Prüfung: 3 OK, 3 FAILED, 1 BLOCKED, 1 SKIPPED");

    // A run of the selection counts only its own rows.
    PlayRun(form, {1, 2}, "FAILED");
    EXPECT_EQ(form.StatusBar1->PanelText(2), "Letzte Prüfung: 0 OK, 2 FAILED");
    EXPECT_EQ(form.ProgressLabel, "2 / 2");

    // The label is on the full bar, in white.
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return !form.ProgressRect.isEmpty(); }));
    form.StatusBar1->repaint();
    const QImage shot = form.screen()->grabWindow(form.winId()).toImage();
    const QRect panel = form.ProgressRect.translated(form.StatusBar1->mapTo(&form, QPoint(0, 0)));
    int navy = 0, light = 0;
    for (int y = panel.top(); y <= panel.bottom(); ++y) {
        for (int x = panel.left(); x <= panel.right(); ++x) {
            navy += shot.pixel(x, y) == qRgb(0, 0, 128);
            light += QColor(shot.pixel(x, y)).lightness() > 200;
        }
    }
    EXPECT_GT(light, 10);
    EXPECT_GT(navy, panel.width() * panel.height() / 2);
}

TEST_F(MainFormTest, TheListFollowsTheCheckedRowUntilTheUserScrollsAway) {
    TMainForm& form = CreateShown(300);
    QTreeView* list = form.ListView1;
    auto inView = [&](std::size_t row) {
        const QRect rect = list->visualRect(form.ListModel->index(static_cast<int>(row), 0));
        return list->viewport()->rect().contains(rect.center());
    };
    TMainFormCheck& view = form.CheckRun;
    form.Checking = true;
    view.RunStateChanged(true);
    for (std::size_t row = 0; row < 150; ++row)
        view.RowBlock(row, row + 1, 300);
    view.ShowPending();
    EXPECT_TRUE(inView(149));
    EXPECT_TRUE(inView(150));  // the one being checked now

    list->scrollToTop();  // the user looks elsewhere: the list stays there
    for (std::size_t row = 150; row < 200; ++row)
        view.RowBlock(row, row + 1, 300);
    view.ShowPending();
    EXPECT_TRUE(inView(0));
    EXPECT_FALSE(inView(199));

    list->scrollTo(form.ListModel->index(199, 0));  // back at the checked row: it follows
    for (std::size_t row = 200; row < 260; ++row)
        view.RowBlock(row, row + 1, 300);
    view.ShowPending();
    EXPECT_TRUE(inView(260));
    form.Checking = false;
    view.RunStateChanged(false);
}
