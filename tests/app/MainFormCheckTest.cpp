// The check run through the window, end to end: a temporary home with a Favorites folder, the
// window's own scan, HTTP client and result file, and a loopback server whose scripts press
// the window's buttons at chosen moments of an answer, as a user would while the run waits.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QImage>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "RunLoop.h"
#include "ScopedEnv.h"
#include "ScriptedMessageBoxes.h"
#include "ScriptedServer.h"
#include "StoredResults.h"
#include "TempDir.h"
#include "app/FavoriteModel.h"
#include "app/MainUnit.h"
#include "app/StatusBar.h"
#include "app/core/FavoriteScan.h"
#include "app/core/HttpCheckClient.h"
#include "app/core/HttpCheckRequest.h"
#include "app/core/ResultFile.h"
#include "app/core/RowHeading.h"
#include "sys/Application.h"
#include "sys/Messages.h"

using testing::ElementsAre;
using testsupport::TScript;

namespace {

namespace fs = std::filesystem;

const std::string Date = "2002/10/09; 10:10:10 GMT";
const std::string Ok200 = "HTTP/1.0 200 OK\r\n\r\n";

// What a user does while the run waits: the server's script posts, the window's loop runs it.
class TUserAction {
  public:
    explicit TUserAction(std::function<void()> action) : action_(std::move(action)) {
        window_ = sys::AllocateHWnd([this](sys::TMessage&) { action_(); });
    }
    ~TUserAction() { sys::DeallocateHWnd(window_); }
    // A script step that triggers the action; safe on the server's thread.
    std::function<void()> Trigger() const {
        return [h = window_] { sys::PostMessage(h, sys::WM_USER, 0, 0); };
    }

  private:
    std::function<void()> action_;
    sys::HWND window_ = 0;
};

// The status line has arrived, the rest of the answer is slow: the action happens now.
TScript SlowAnswer(const TUserAction& action) {
    TScript script;
    script.ReadRequest().Send("HTTP/1.0 200 OK\r\n").Call(action.Trigger()).Hang();
    return script;
}

class MainFormCheckTest : public testing::Test {
  protected:
    testsupport::TempDir dir;
    testsupport::ScopedEnv homeEnv{"HOME", (dir.Path() / "home").string()};
    fs::path resultFile = dir.Path() / "bin" / ResultFileName;
    TScriptedMessageBoxesScope Boxes;
    std::unique_ptr<TMainForm> Form;

    void SetUp() override {
        sys::Application::Instance().Title = "Quorvane 1.0";
        fs::create_directories(dir.Path() / "home" / "Favorites");
        fs::create_directories(resultFile.parent_path());
    }
    void TearDown() override {
        Form.reset();
        TMainForm::SetScanHook(nullptr);
    }

    // Shortcuts r1.url .. rN.url pointing at the server; returns their paths.
    std::vector<std::string> Shortcuts(const testsupport::ScriptedServer& server, int count) {
        return Shortcuts(server.Url("/r"), count);
    }
    // Shortcuts r1.url .. rN.url to urlStem + "1" .. urlStem + "N".
    std::vector<std::string> Shortcuts(const std::string& urlStem, int count) {
        std::vector<std::string> paths;
        for (int i = 1; i <= count; ++i) {
            std::string n = std::to_string(i);
            paths.push_back(dir.Write("home/Favorites/r" + n + ".url",
                                      "[DEFAULT]\r\nBASEURL=" + urlStem + n + "\r\n")
                                .string());
        }
        return paths;
    }

    // The window with its own scan of the temporary home; only the program folder, where the
    // result file lives, is moved into the temporary folder.
    TMainForm& Create(const TProgramOptions& options = {}) {
        Form.reset();  // an earlier window writes its file when it goes, so it goes first
        TMainForm::SetScanHook([this](TMainForm& form) {
            form.ProgramDir = resultFile.parent_path().string() + "/";
            TFavoriteScanner(form.Favorites).FavoritenEinlesen();
        });
        Form = std::make_unique<TMainForm>(options);
        return *Form;
    }

    std::vector<std::string> Statuses() const {
        std::vector<std::string> statuses;
        for (const auto& row : Form->Favorites.Rows())
            statuses.push_back(row.Datum);
        return statuses;
    }
    std::vector<std::string> MemoLines() const {
        QString text = Form->Memo1->toPlainText();
        std::vector<std::string> lines;
        if (!text.isEmpty())
            for (const QString& line : text.split('\n'))
                lines.push_back(line.toStdString());
        return lines;
    }
    // The memo without the runs' separators and the rows' headings: the answers' lines.
    std::vector<std::string> AnswerLines() const {
        std::vector<std::string> lines = MemoLines();
        std::erase_if(lines, [](const std::string& line) {
            return IsRunSeparator(line) || std::regex_match(line, std::regex(R"(\[\d+/\d+\] .*)"));
        });
        return lines;
    }
    static bool IsRunSeparator(const std::string& line) {
        return std::regex_match(
            line, std::regex(R"(──── Überprüfung \d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d ────)"));
    }
    // The statuses the result file gives back to the window's rows, in list order.
    std::vector<std::string> Stored() const { return Stored(Form->Favorites.Rows()); }
    std::vector<std::string> Stored(const std::vector<TFavoriteRow>& rows) const {
        TFavoriteList fresh;
        for (auto row : rows) {
            row.Datum = "???";
            fresh.Append(row);
        }
        OpenURLs(fresh, resultFile.string());
        std::vector<std::string> statuses;
        for (const auto& row : fresh.Rows())
            statuses.push_back(row.Datum);
        return statuses;
    }
    void StoreEarlierResults(const std::vector<std::string>& paths, const std::string& status) {
        testsupport::StoreResults(paths, status, resultFile.string());
    }
    void ExpectIdle() const {
        EXPECT_FALSE(Form->Checking);
        EXPECT_TRUE(Form->CheckBtn->isEnabled());
        EXPECT_TRUE(Form->CheckAllBtn->isEnabled());
        EXPECT_FALSE(Form->BreakBtn->isEnabled());
        EXPECT_FALSE(Form->AbortBtn->isEnabled());
    }
};

// The window checks several rows at once by default; the tests of the run with one row at a
// time (--jobs 1), whose buttons act on the one row in flight, ask for it.
TProgramOptions OneRowAtATime() {
    TProgramOptions options;
    options.Jobs = 1;
    return options;
}

}  // namespace

TEST_F(MainFormCheckTest, RunOverAllRowsFillsRowsLogAndFile) {
    struct {
        bool checking = false, checkBtn = true, checkAllBtn = false, breakBtn = false,
             abortBtn = false;
        int progress = -1;
    } during;
    TUserAction look([&] {
        during = {Form->Checking,
                  Form->CheckBtn->isEnabled(),
                  Form->CheckAllBtn->isEnabled(),
                  Form->BreakBtn->isEnabled(),
                  Form->AbortBtn->isEnabled(),
                  Form->Progress};
        // A second run, deleting and sorting are refused while this run addresses its rows
        // by position (the second row has failed by now).
        Form->CheckAllBtn->click();
        Form->DelAllBtn->click();
        Form->ListView1ColumnClick(0);
    });
    TScript third;
    third.ReadRequest().Call(look.Trigger()).Send("HTTP/1.0 200 OK\r\nServer: test\r\n\r\n");
    testsupport::ScriptedServer server({
        TScript::Answer("HTTP/1.0 200 OK\r\nLast-Modified: Wed, 09 Oct 2002 10:10:10 GMT\r\n\r\n"),
        TScript::Answer("HTTP/1.0 404 Not Found\r\n\r\n"),
        TScript::Answer("HTTP/1.0 404 Not Found\r\n\r\n"),  // the GET that follows the HEAD
        third,
        TScript::Answer("HTTP/1.0 200 OK\r\nLast-Modified: Wed, 09 Okt 2002 10:10:10 GMT\r\n\r\n"),
        TScript().ReadRequest().Close(),  // no status line at all, twice: it may pass
        TScript().ReadRequest().Close(),
    });
    Shortcuts(server, 5);
    TMainForm& form = Create(OneRowAtATime());
    ASSERT_EQ(form.Favorites.Count(), 5u);
    ExpectIdle();

    form.CheckRun.Run.RetryDelay = std::chrono::milliseconds(1);
    form.CheckAllBtn->click();

    EXPECT_THAT(Statuses(),
                ElementsAre(Date, "FAILED", "OK", "2002/01/09; 10:10:10 GMT", "FAILED"));
    // One separator for the run, then each row's block under the heading quorvane-check
    // prints; the row that waited to be asked again keeps its place.
    auto heading = [&](int n) {
        const std::string i = std::to_string(n);
        return "[" + i + "/5] r" + i + " <" + server.Url("/r" + i) + ">";
    };
    const std::vector<std::string> memo = MemoLines();
    ASSERT_FALSE(memo.empty());
    EXPECT_TRUE(IsRunSeparator(memo[0])) << memo[0];
    EXPECT_THAT(
        std::vector<std::string>(memo.begin() + 1, memo.end()),
        ElementsAre(heading(1), "StatusCode = 200", "HTTP/1.0 200 OK",
                    "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT",  //
                    heading(2), "HEAD Failed !", "StatusCode   = 404", "ReasonPhrase = Not Found",
                    "Trying GET", "GET Failed !", "StatusCode   = 404",
                    "ReasonPhrase = Not Found",                                         //
                    heading(3), "StatusCode = 200", "HTTP/1.0 200 OK", "Server: test",  //
                    heading(4), "StatusCode = 200", "HTTP/1.0 200 OK",
                    "Last-Modified: Wed, 09 Okt 2002 10:10:10 GMT",  //
                    heading(5), "HEAD Failed !", "StatusCode   = 404",
                    "ReasonPhrase = No HTTP answer", "Trying again in 1 s",  //
                    "HEAD Failed !", "StatusCode   = 404", "ReasonPhrase = No HTTP answer"));
    EXPECT_TRUE(during.checking);
    EXPECT_FALSE(during.checkBtn);
    EXPECT_TRUE(during.checkAllBtn);
    EXPECT_TRUE(during.breakBtn);
    EXPECT_TRUE(during.abortBtn);
    EXPECT_EQ(during.progress, 40);  // two of five rows done when the third one is asked for
    EXPECT_EQ(form.Progress, 100);
    EXPECT_EQ(server.Connections(), 7);
    ExpectIdle();
    EXPECT_EQ(Stored(), Statuses());
    EXPECT_TRUE(Boxes->Shown.empty());
}

TEST_F(MainFormCheckTest, AbortingOneSlowAnswerMarksItUncheckedAndChecksTheNextRow) {
    TUserAction abort([&] { Form->AbortBtn->click(); });
    testsupport::ScriptedServer server(
        {TScript::Answer(Ok200), SlowAnswer(abort), TScript::Answer(Ok200)});
    Shortcuts(server, 3);
    TMainForm& form = Create(OneRowAtATime());

    form.CheckAllBtn->click();

    EXPECT_THAT(Statuses(), ElementsAre("OK", "???", "OK"));
    EXPECT_THAT(AnswerLines(), ElementsAre("StatusCode = 200", "HTTP/1.0 200 OK",  //
                                           "HEAD Failed !", "StatusCode   = 404",
                                           "ReasonPhrase = Connection aborted on request",  //
                                           "StatusCode = 200", "HTTP/1.0 200 OK"));
    EXPECT_EQ(server.Connections(), 3);
    EXPECT_FALSE(form.BreakRequested);
    ExpectIdle();
    EXPECT_THAT(Stored(), ElementsAre("OK", "???", "OK"));
}

TEST_F(MainFormCheckTest, StoppingDuringTheThirdOfFiveRowsLeavesTheLastTwoAndWritesTheFile) {
    TUserAction stop([&] { Form->BreakBtn->click(); });
    testsupport::ScriptedServer server(
        {TScript::Answer(Ok200), TScript::Answer(Ok200), SlowAnswer(stop)});
    StoreEarlierResults(Shortcuts(server, 5), "FAILED");
    TMainForm& form = Create(OneRowAtATime());
    ASSERT_THAT(Statuses(), ElementsAre("FAILED", "FAILED", "FAILED", "FAILED", "FAILED"));

    form.CheckAllBtn->click();

    EXPECT_THAT(Statuses(), ElementsAre("OK", "OK", "???", "FAILED", "FAILED"));
    EXPECT_EQ(server.Connections(), 3);
    EXPECT_TRUE(form.BreakRequested);
    EXPECT_EQ(form.Progress, 60);
    ExpectIdle();
    EXPECT_THAT(Stored(), ElementsAre("OK", "OK", "???", "FAILED", "FAILED"));
}

TEST_F(MainFormCheckTest, ClosingTheWindowDuringARunEndsTheRowAndWritesTheFile) {
    TUserAction close([&] { Form->close(); });
    testsupport::ScriptedServer server({TScript::Answer(Ok200), SlowAnswer(close)});
    StoreEarlierResults(Shortcuts(server, 3), "FAILED");
    TMainForm& form = Create(OneRowAtATime());
    form.show();

    form.CheckAllBtn->click();

    EXPECT_FALSE(form.isVisible());
    EXPECT_THAT(Statuses(), ElementsAre("OK", "???", "FAILED"));
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_THAT(Stored(), ElementsAre("OK", "???", "FAILED"));
    const std::vector<TFavoriteRow> rows = form.Favorites.Rows();
    fs::remove(resultFile);
    Form.reset();  // destroying the window writes the file once more
    EXPECT_THAT(Stored(rows), ElementsAre("OK", "???", "FAILED"));
}

TEST_F(MainFormCheckTest, NothingToCheckReturnsToIdleAndWritesTheFile) {
    testsupport::ScriptedServer server(TScript::Answer(Ok200));
    {
        SCOPED_TRACE("an empty list");
        TMainForm& form = Create();
        ASSERT_EQ(form.Favorites.Count(), 0u);
        EXPECT_FALSE(form.CheckAllBtn->isEnabled());  // nothing to check on an empty list
        EXPECT_FALSE(form.CheckBtn->isEnabled());
        form.CheckAllBtnClick();  // the handler itself copes as well
        EXPECT_FALSE(form.Checking);
        EXPECT_FALSE(form.BreakBtn->isEnabled());
        EXPECT_EQ(fs::file_size(resultFile), 0u);
    }
    {
        SCOPED_TRACE("no row selected, then two of three");
        Form.reset();  // it would write its empty list over the earlier results
        StoreEarlierResults(Shortcuts(server, 3), "FAILED");
        TMainForm& form = Create();
        form.ListView1->clearSelection();
        form.CheckBtn->click();
        EXPECT_EQ(server.Connections(), 0);
        ExpectIdle();
        EXPECT_THAT(Stored(), ElementsAre("FAILED", "FAILED", "FAILED"));

        auto* selection = form.ListView1->selectionModel();
        for (int row : {0, 2})
            selection->select(form.ListView1->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        form.CheckBtn->click();
        EXPECT_EQ(server.Connections(), 2);
        EXPECT_THAT(Statuses(), ElementsAre("OK", "FAILED", "OK"));
        EXPECT_EQ(form.Progress, 100);
    }
    EXPECT_TRUE(Boxes->Shown.empty());
}

TEST_F(MainFormCheckTest, ADamagedResultFileIsReportedOnceAndReplacedByTheNextSave) {
    testsupport::ScriptedServer server(TScript::Answer(Ok200));
    auto paths = Shortcuts(server, 2);
    std::string bytes = std::string("\x06\x00\x00\x00", 4) + "FAILED" +
                        std::string(1, static_cast<char>(paths[0].size())) +
                        std::string("\x00\x00\x00", 3) + paths[0] + std::string("\x02\x00", 2);
    dir.Write("bin/urls.dat", bytes);
    TMainForm& form = Create();
    ASSERT_EQ(Boxes->Shown.size(), 1u);
    EXPECT_EQ(Boxes->Shown[0].Text.toStdString(),
              "Die gespeicherten Ergebnisse konnten nicht gelesen werden.\n\nDatei: " +
                  resultFile.string() + "\nGrund: Versuch hinter dem Dateiende zu lesen.");
    EXPECT_EQ(Boxes->Shown[0].Icon, TMsgIcon::Warning);
    std::vector<std::string> expected(2, "???");
    for (std::size_t i = 0; i < 2; ++i)
        if (form.Favorites[i].Datei == paths[0])
            expected[i] = "FAILED";
    EXPECT_EQ(Statuses(), expected);

    const std::vector<TFavoriteRow> rows = form.Favorites.Rows();
    Form.reset();  // the save at the end replaces the damaged file
    EXPECT_EQ(Stored(rows), expected);
    EXPECT_EQ(Boxes->Shown.size(), 1u);
}

// A result file that cannot be written anywhere (no program folder, and a data folder below a
// plain file) is reported by the first save that fails, the run's end, with the file and the
// reason; the window's end fails the same way and keeps quiet.
TEST_F(MainFormCheckTest, AResultFileThatCannotBeWrittenIsReportedOnce) {
    testsupport::ScriptedServer server(TScript::Answer(Ok200));
    Shortcuts(server, 1);
    dir.Write("plain", "not a folder");
    testsupport::ScopedEnv dataHome("XDG_DATA_HOME", (dir.Path() / "plain/data").string());
    TMainForm::SetScanHook([this](TMainForm& form) {
        form.ProgramDir = (dir.Path() / "gone").string() + "/";
        TFavoriteScanner(form.Favorites).FavoritenEinlesen();
    });
    Form = std::make_unique<TMainForm>();
    EXPECT_TRUE(Boxes->Shown.empty());  // nothing there to read is no problem
    const std::string failure =
        "Die neuen Ergebnisse konnten nicht gespeichert werden.\n\n"
        "Datei: " +
        (dir.Path() / "plain/data").string() +
        "/quorvane/urls.dat\nGrund: Ein Teil des Pfades ist kein Ordner.";

    Form->CheckAllBtn->click();
    EXPECT_THAT(Statuses(), ElementsAre("OK"));
    ASSERT_EQ(Boxes->Shown.size(), 1u);
    EXPECT_EQ(Boxes->Shown[0].Text.toStdString(), failure);
    EXPECT_EQ(Boxes->Shown[0].Icon, TMsgIcon::Error);
    ExpectIdle();
    Form.reset();
    EXPECT_EQ(Boxes->Shown.size(), 1u);
}

// A folder where the result file belongs can be neither read nor written: one box at start
// says both, and neither a run's save nor the window's end repeats it.
TEST_F(MainFormCheckTest, AFolderInPlaceOfTheResultFileIsToldOnceAtStart) {
    testsupport::ScriptedServer server(TScript::Answer(Ok200));
    Shortcuts(server, 1);
    fs::create_directories(resultFile);
    Create();
    ASSERT_EQ(Boxes->Shown.size(), 1u);
    const std::string text = Boxes->Shown[0].Text.toStdString();
    EXPECT_THAT(text, testing::StartsWith(
                          "Die gespeicherten Ergebnisse konnten nicht gelesen werden.\n\nDatei: " +
                          resultFile.string() + "\nGrund: Sie ist ein Ordner, keine Datei."));
    EXPECT_THAT(text, testing::HasSubstr("Neue Ergebnisse können dort erst gespeichert werden"));
    EXPECT_THAT(text, testing::Not(testing::HasSubstr("Is a directory")));

    Form->CheckAllBtn->click();
    EXPECT_THAT(Statuses(), ElementsAre("OK"));
    Form.reset();
    EXPECT_EQ(Boxes->Shown.size(), 1u);
    EXPECT_TRUE(fs::is_directory(resultFile));
}

// --- The window keeps up with a fast run ------------------------------------------------------
// Log lines, changed rows and the progress bar reach the screen once per frame; nothing of it
// may be lost, reordered or held back past the run's end, and the buttons still act mid-run.

namespace {

// The log a run without a window writes for the same rows: what the memo must read.
std::vector<std::string> LogWithoutWindow(const std::vector<TFavoriteRow>& rows, int jobs) {
    struct TRecorder : ICheckRunView {
        const TFavoriteList* list = nullptr;
        std::vector<std::string> lines;
        void Log(const std::string& line) override { lines.push_back(line); }
        void RowBlock(std::size_t row, std::size_t position, std::size_t total) override {
            lines.push_back(RowHeading((*list)[row], position, total));
        }
    } view;
    TFavoriteList list;
    view.list = &list;
    for (const auto& row : rows)
        list.Append(row);
    THttpCli http;
    ConfigureCheckClient(http);
    THttpCheckClient client(http);
    TCheckRun run(list, client, view);
    run.SetJobs(jobs, HttpCheckRequests(30));
    run.CheckNow(false);
    return view.lines;
}

// What the list's view was told each row holds: the row's text at the last dataChanged that
// named it. A row changed after its last notice is never repainted.
class TNoticedRows {
  public:
    explicit TNoticedRows(TMainForm& form) : form_(form) {
        connection_ =
            QObject::connect(form.ListModel, &QAbstractItemModel::dataChanged,
                             [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                                 for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
                                     noticed_[static_cast<std::size_t>(row)] =
                                         form_.Favorites[static_cast<std::size_t>(row)].Datum;
                             });
    }
    ~TNoticedRows() { QObject::disconnect(connection_); }
    std::string operator[](std::size_t row) const {
        const auto it = noticed_.find(row);
        return it == noticed_.end() ? "(never)" : it->second;
    }

  private:
    TMainForm& form_;
    std::map<std::size_t, std::string> noticed_;
    QMetaObject::Connection connection_;
};

bool ProgressBarFull(TMainForm& form) {
    const QImage shot = form.screen()->grabWindow(form.winId()).toImage();
    const QPoint end = form.StatusBar1->mapTo(
        &form, QPoint(form.ProgressRect.right(), form.ProgressRect.center().y()));
    return shot.pixel(end) == qRgb(0, 0, 128);
}

TProgramOptions WithJobs(int jobs) {
    TProgramOptions options;
    options.Jobs = jobs;
    return options;
}

}  // namespace

TEST_F(MainFormCheckTest, AFastRunEndsWithEveryVerdictShownAndEveryLogLineInOrder) {
    testsupport::RefusingPort refusing;
    Shortcuts("http://127.0.0.1:" + std::to_string(refusing.Port()) + "/r", 300);
    for (int jobs : {1, 4}) {
        SCOPED_TRACE("jobs " + std::to_string(jobs));
        TMainForm& form = Create(WithJobs(jobs));
        form.show();
        ASSERT_TRUE(testsupport::RunLoopUntil([&] { return !form.ProgressRect.isEmpty(); }));
        TNoticedRows noticed(form);

        form.CheckAllBtn->click();

        // Read at once, before the reference run turns the loop: the run's end must leave
        // nothing for a later frame.
        const std::vector<std::string> memo = MemoLines();
        EXPECT_TRUE(ProgressBarFull(form));
        for (std::size_t row = 0; row < form.Favorites.Count(); ++row) {
            EXPECT_EQ(form.Favorites[row].Datum, "FAILED") << "row " << row;
            EXPECT_EQ(noticed[row], "FAILED") << "row " << row;
        }
        EXPECT_EQ(form.Progress, 100);
        ASSERT_FALSE(memo.empty());
        EXPECT_TRUE(IsRunSeparator(memo.front())) << memo.front();
        EXPECT_EQ(std::vector<std::string>(memo.begin() + 1, memo.end()),
                  LogWithoutWindow(form.Favorites.Rows(), jobs));
        ExpectIdle();
    }
}

TEST_F(MainFormCheckTest, RowsAndLogLinesShowDuringTheRunWithoutFurtherInput) {
    bool shownInTime = false;
    bool stillChecking = false;
    std::vector<std::string> memoThen;
    std::unique_ptr<TNoticedRows> noticed;
    // While the second row waits for the rest of its answer, nothing but the window's own
    // frame may bring the first row's verdict and log to the screen; then "Abbrechen".
    TUserAction watch([&] {
        shownInTime = testsupport::RunLoopUntil(
            [&] { return AnswerLines().size() == 2 && (*noticed)[0] == "OK"; },
            std::chrono::seconds(5));
        stillChecking = Form->Checking;
        memoThen = AnswerLines();
        Form->BreakBtn->click();
    });
    testsupport::ScriptedServer server({TScript::Answer(Ok200), SlowAnswer(watch)});
    Shortcuts(server, 3);
    TMainForm& form = Create(OneRowAtATime());
    noticed = std::make_unique<TNoticedRows>(form);

    form.CheckAllBtn->click();

    EXPECT_TRUE(shownInTime);
    EXPECT_TRUE(stillChecking);
    EXPECT_THAT(memoThen, ElementsAre("StatusCode = 200", "HTTP/1.0 200 OK"));
    EXPECT_THAT(Statuses(), ElementsAre("OK", "???", "???"));
    EXPECT_THAT(AnswerLines(), ElementsAre("StatusCode = 200", "HTTP/1.0 200 OK",  //
                                           "HEAD Failed !", "StatusCode   = 404",
                                           "ReasonPhrase = Connection aborted on request"));
    EXPECT_EQ((*noticed)[1], "???");
    EXPECT_TRUE(form.BreakRequested);
    ExpectIdle();
    noticed.reset();
}

// A click that comes through Qt's own events, as a user's does, not through the loop's queue:
// a run of refused rows, which never waits for long, must still serve it and stop early.
TEST_F(MainFormCheckTest, AbbrechenFromQtEventsStopsARunOfRefusedRows) {
    testsupport::RefusingPort refusing;
    Shortcuts("http://127.0.0.1:" + std::to_string(refusing.Port()) + "/r", 400);
    for (int jobs : {1, 4}) {
        SCOPED_TRACE("jobs " + std::to_string(jobs));
        TMainForm& form = Create(WithJobs(jobs));
        QPushButton* stop = form.BreakBtn;
        QMetaObject::invokeMethod(
            stop, [stop] { stop->click(); }, Qt::QueuedConnection);

        form.CheckAllBtn->click();

        EXPECT_TRUE(form.BreakRequested);
        const std::vector<std::string> statuses = Statuses();
        EXPECT_GT(std::count(statuses.begin(), statuses.end(), "???"), 0);
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "???") +
                      std::count(statuses.begin(), statuses.end(), "FAILED"),
                  static_cast<long>(statuses.size()));
        ExpectIdle();
    }
}
