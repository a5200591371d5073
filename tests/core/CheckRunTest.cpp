#include "app/core/CheckRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>

#include "ScopedEnv.h"
#include "TempDir.h"
#include "app/core/Interrupt.h"
#include "app/core/ResultFile.h"
#include "sys/Application.h"
#include "sys/Messages.h"
#include "sys/Poller.h"

using testing::ElementsAre;

namespace {

const std::string Aborted = "Connection aborted on request";

struct Answer {
    int status = 200;
    std::string reason = "OK";
    std::vector<std::string> lines;
    // What the user does while the request waits (a click of a button, say).
    std::function<void()> during;
    bool throwsOther = false;
    bool local = false;  // a failure before any answer (lookup, connect, TLS)
};

// Keeps the contract the run relies on: Head raises for 400 and up and after Abort, which
// leaves 404 and the abort text behind.
class FakeClient : public ICheckClient {
  public:
    std::map<std::string, Answer> answers;
    std::map<std::string, Answer> getAnswers;  // answers to the GET that follows a refused HEAD
    std::vector<std::string> requested;
    std::vector<std::string> proxiesSeen;  // the all_proxy of every run's hand-over

    void UseProxies(const TProxyEnv& proxies) override { proxiesSeen.push_back(proxies.AllProxy); }
    void PrepareHead(const std::string& url) override { url_ = url; }
    void PrepareHeaderGet(const std::string& url) override { url_ = url; }
    void Head() override { Request(answers.at(url_), ""); }
    void Get() override { Request(getAnswers.at(url_), "GET "); }
    bool ServerAnswered() const override { return !aborted_ && !local_; }
    void Request(const Answer& answer, const std::string& method) {
        requested.push_back(method + url_);
        status_ = 0;
        lines_.clear();
        aborted_ = false;
        local_ = answer.local;
        busy_ = true;
        if (answer.during)
            answer.during();
        busy_ = false;
        if (aborted_)
            throw std::runtime_error(reason_);
        if (answer.throwsOther)
            throw 42;
        status_ = answer.status;
        reason_ = answer.reason;
        lines_ = answer.lines;
        if (status_ >= 400)
            throw std::runtime_error(reason_);
    }
    void Abort() override {
        if (!busy_)
            return;
        aborted_ = true;
        status_ = 404;
        reason_ = Aborted;
    }
    int StatusCode() const override { return status_; }
    std::string ReasonPhrase() const override { return reason_; }
    const std::vector<std::string>& ResponseHeaderLines() const override { return lines_; }

  private:
    std::string url_;
    int status_ = 0;
    std::string reason_;
    std::vector<std::string> lines_;
    bool busy_ = false;
    bool aborted_ = false;
    bool local_ = false;
};

class View : public ICheckRunView {
  public:
    std::vector<std::string> log;
    std::vector<bool> states;
    std::vector<int> progress;
    std::vector<std::string> counts;  // "done/total"
    std::set<std::size_t> selected;

    void Log(const std::string& line) override { log.push_back(line); }
    void RunStateChanged(bool checking) override { states.push_back(checking); }
    void Progress(int percent) override { progress.push_back(percent); }
    void RowsDone(std::size_t done, std::size_t total) override {
        counts.push_back(std::to_string(done) + "/" + std::to_string(total));
    }
    bool IsSelected(std::size_t row) const override { return selected.count(row) > 0; }
};

class CheckRunTest : public testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string resultFile = (dir.Path() / ResultFileName).string();
    TFavoriteList list;
    FakeClient client;
    View view;
    TCheckRun run{list, client, view, [this] { SaveURLs(list, resultFile); }};

    // One row per name, with the address http://name/ and the given earlier status.
    void Rows(const std::vector<std::string>& names, const std::string& datum = "???") {
        for (const auto& name : names) {
            TFavoriteRow row;
            row.Name = name;
            row.URL = "http://" + name + "/";
            row.Datei = "/fav/" + name + ".url";
            row.Datum = datum;
            list.Append(row);
        }
    }
    Answer& On(const std::string& name) { return client.answers["http://" + name + "/"]; }
    std::vector<std::string> Statuses() const {
        std::vector<std::string> statuses;
        for (const auto& row : list.Rows())
            statuses.push_back(row.Datum);
        return statuses;
    }
    // The statuses that the result file gives back to unchecked rows.
    std::vector<std::string> Stored() const {
        TFavoriteList fresh;
        for (auto row : list.Rows()) {
            row.Datum = "???";
            fresh.Append(row);
        }
        OpenURLs(fresh, resultFile);
        std::vector<std::string> statuses;
        for (const auto& row : fresh.Rows())
            statuses.push_back(row.Datum);
        return statuses;
    }
};

}  // namespace

TEST_F(CheckRunTest, RowsGetOutcomesAndTheLogGetsEveryAnswer) {
    Rows({"dated", "plain", "missing", "silent", "lower", "twice"});
    On("dated").lines = {"HTTP/1.0 200 OK", "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT"};
    On("plain").lines = {"HTTP/1.0 200 OK", "Server: x"};
    On("missing") = {404, "Not Found", {"HTTP/1.0 404 Not Found"}, {}, false};
    client.getAnswers["http://missing/"] = On("missing");
    // A client that let a request end without any status line must not make the row "OK".
    On("silent") = {0, "", {}, {}, false};
    On("lower").lines = {"HTTP/1.0 200 OK", "last-modified: Wed, 09 Oct 2002 10:10:10 GMT"};
    On("twice").lines = {"HTTP/1.0 302 Found", "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT",
                         "HTTP/1.0 200 OK", "Last-Modified: Fri, 01 Mar 1996 08:00:00 GMT"};
    run.CheckNow(false);

    const std::string date = "2002/10/09; 10:10:10 GMT";
    EXPECT_THAT(Statuses(),
                ElementsAre(date, "OK", "FAILED", "FAILED", date, "1996/03/01; 08:00:00 GMT"));
    EXPECT_THAT(view.log,
                ElementsAre("StatusCode = 200", "HTTP/1.0 200 OK",
                            "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT",      //
                            "StatusCode = 200", "HTTP/1.0 200 OK", "Server: x",  //
                            "HEAD Failed !", "StatusCode   = 404", "ReasonPhrase = Not Found",
                            "Trying GET", "GET Failed !", "StatusCode   = 404",
                            "ReasonPhrase = Not Found",                              //
                            "HEAD Failed !", "StatusCode   = 0", "ReasonPhrase = ",  //
                            "StatusCode = 200", "HTTP/1.0 200 OK",
                            "last-modified: Wed, 09 Oct 2002 10:10:10 GMT",  //
                            "StatusCode = 200", "HTTP/1.0 302 Found",
                            "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT", "HTTP/1.0 200 OK",
                            "Last-Modified: Fri, 01 Mar 1996 08:00:00 GMT"));
    EXPECT_THAT(view.states, ElementsAre(true, false));
    EXPECT_THAT(view.progress, ElementsAre(0, 16, 33, 50, 66, 83, 100));
    EXPECT_THAT(view.counts, ElementsAre("0/6", "1/6", "2/6", "3/6", "4/6", "5/6", "6/6"));
    EXPECT_FALSE(run.Checking);
    EXPECT_EQ(Stored(), Statuses());
}

// A server that refuses HEAD is asked once more with GET, and the GET's answer decides; the
// log shows both answers. Failures before an answer, and aborts, are not asked again.
TEST_F(CheckRunTest, ARefusedHeadIsAskedAgainWithGet) {
    Rows({"live", "dead", "unreachable", "fine"});
    On("live") = {405, "Method Not Allowed", {"HTTP/1.1 405 Method Not Allowed"}, {}, false};
    client.getAnswers["http://live/"].lines = {"HTTP/1.1 200 OK",
                                               "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT"};
    On("dead") = {404, "Not Found", {"HTTP/1.1 404 Not Found"}, {}, false};
    client.getAnswers["http://dead/"] = {404, "Not Found", {"HTTP/1.1 404 Not Found"}, {}, false};
    On("unreachable") = {404, "can't resolve hostname to IP address", {}, {}, false};
    On("unreachable").local = true;
    On("fine");
    run.CheckNow(false);

    EXPECT_THAT(Statuses(), ElementsAre("2002/10/09; 10:10:10 GMT", "FAILED", "FAILED", "OK"));
    EXPECT_THAT(client.requested,
                ElementsAre("http://live/", "GET http://live/", "http://dead/", "GET http://dead/",
                            "http://unreachable/", "http://fine/"));
    EXPECT_THAT(
        std::vector<std::string>(view.log.begin(), view.log.begin() + 15),
        ElementsAre("HEAD Failed !", "StatusCode   = 405", "ReasonPhrase = Method Not Allowed",
                    "Trying GET", "StatusCode = 200", "HTTP/1.1 200 OK",
                    "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT", "HEAD Failed !",
                    "StatusCode   = 404", "ReasonPhrase = Not Found", "Trying GET", "GET Failed !",
                    "StatusCode   = 404", "ReasonPhrase = Not Found", "HEAD Failed !"));
}

TEST_F(CheckRunTest, AbortedHeadIsNotAskedAgain) {
    Rows({"a"});
    On("a").during = [&] { run.AbortCurrent(); };
    run.CheckNow(false);
    EXPECT_THAT(client.requested, ElementsAre("http://a/"));
    EXPECT_THAT(Statuses(), ElementsAre("???"));
}

TEST_F(CheckRunTest, AbortingOneRequestMarksItUncheckedAndGoesOn) {
    Rows({"a", "b", "c"}, "OK");
    On("a");
    On("b").during = [&] {
        EXPECT_EQ(list[1].Datum, "CHECKING...");
        run.AbortCurrent();
    };
    On("c");
    run.CheckNow(false);

    EXPECT_THAT(Statuses(), ElementsAre("OK", "???", "OK"));
    EXPECT_THAT(client.requested, ElementsAre("http://a/", "http://b/", "http://c/"));
    EXPECT_THAT(std::vector<std::string>(view.log.begin() + 1, view.log.begin() + 4),
                ElementsAre("HEAD Failed !", "StatusCode   = 404", "ReasonPhrase = " + Aborted));
    // The aborted row's record is gone from the file, so no older result comes back for it.
    EXPECT_THAT(Stored(), ElementsAre("OK", "???", "OK"));
}

TEST_F(CheckRunTest, BreakingDuringTheThirdOfFiveRowsLeavesTheLastTwoAndSaves) {
    Rows({"a", "b", "c"}, "FAILED");
    Rows({"d"}, "OK");
    Rows({"e"}, "2001/01/01; 00:00:00 GMT");
    for (auto name : {"a", "b", "d", "e"})
        On(name);
    On("c").during = [&] { run.Break(); };
    run.CheckNow(false);

    EXPECT_THAT(Statuses(), ElementsAre("OK", "OK", "???", "OK", "2001/01/01; 00:00:00 GMT"));
    EXPECT_THAT(client.requested, ElementsAre("http://a/", "http://b/", "http://c/"));
    EXPECT_THAT(view.states, ElementsAre(true, false));
    EXPECT_THAT(view.progress, ElementsAre(0, 20, 40, 60));
    EXPECT_TRUE(run.BreakRequested);
    EXPECT_EQ(Stored(), Statuses());
}

// A stop that arrives as a message is taken before the next row starts.
TEST_F(CheckRunTest, StopArrivingBetweenRowsIsTakenBeforeTheNextRow) {
    Rows({"a", "b"});
    sys::HWND stop = sys::AllocateHWnd([&](sys::TMessage&) { run.Break(); });
    On("a").during = [&] { sys::PostMessage(stop, sys::WM_USER, 0, 0); };
    On("b");
    run.CheckNow(false);
    sys::DeallocateHWnd(stop);

    EXPECT_THAT(Statuses(), ElementsAre("OK", "???"));
    EXPECT_THAT(client.requested, ElementsAre("http://a/"));
}

// Between rows the loop asks the kernel only now and then; a signal (Ctrl+C) is looked for at
// once even when the loop has just looked, as the client had right before its answer.
TEST_F(CheckRunTest, SignalRightAfterTheLoopLookedIsTakenBeforeTheNextRow) {
    Rows({"a", "b"});
    TInterrupt interrupt({SIGUSR1}, [&](int) { run.Break(); });
    On("a").during = [&] {
        sys::CollectReadiness();
        ASSERT_EQ(::kill(::getpid(), SIGUSR1), 0);
    };
    On("b");
    run.CheckNow(false);

    EXPECT_TRUE(interrupt.Happened());
    EXPECT_THAT(client.requested, ElementsAre("http://a/"));
}

TEST_F(CheckRunTest, NothingToCheckStillEndsTheRunAndWritesTheFile) {
    for (bool emptyList : {true, false}) {
        SCOPED_TRACE(emptyList ? "empty list" : "no row selected");
        list.Clear();
        view = View();
        if (!emptyList)
            Rows({"a", "b"}, "OK");
        dir.Write(ResultFileName, "stale");
        run.CheckNow(!emptyList);
        EXPECT_TRUE(client.requested.empty());
        EXPECT_THAT(view.states, ElementsAre(true, false));
        EXPECT_THAT(view.progress, ElementsAre(0));
        EXPECT_EQ(std::filesystem::file_size(resultFile), emptyList ? 0u : 2 * (4 + 2 + 4 + 10u));
    }
}

TEST_F(CheckRunTest, SelectedOnlyChecksTheSelectedRows) {
    Rows({"a", "b", "c", "d"});
    On("b");
    On("d");
    view.selected = {1, 3};
    run.CheckNow(true);
    EXPECT_THAT(client.requested, ElementsAre("http://b/", "http://d/"));
    EXPECT_THAT(Statuses(), ElementsAre("???", "OK", "???", "OK"));
    EXPECT_THAT(view.progress, ElementsAre(0, 50, 100));
}

TEST_F(CheckRunTest, ASecondRunIsRefusedWhileOneIsInProgress) {
    Rows({"a", "b"});
    On("a").during = [&] {
        EXPECT_TRUE(run.Checking);
        run.CheckNow(false);
    };
    On("b");
    run.CheckNow(false);
    EXPECT_THAT(client.requested, ElementsAre("http://a/", "http://b/"));
    EXPECT_THAT(view.states, ElementsAre(true, false));
}

TEST_F(CheckRunTest, AFailureOfAnyKindIsCaughtPerRow) {
    Rows({"odd", "b"});
    On("odd").throwsOther = true;
    On("b");
    run.CheckNow(false);
    EXPECT_THAT(Statuses(), ElementsAre("FAILED", "OK"));
    EXPECT_THAT(std::vector<std::string>(view.log.begin(), view.log.begin() + 3),
                ElementsAre("HEAD Failed !", "StatusCode   = 0", "ReasonPhrase = "));
}

TEST_F(CheckRunTest, ASaveErrorSurfacesAfterTheRunHasEnded) {
    Rows({"a"});
    On("a");
    std::filesystem::create_directory(resultFile);  // the rename over it must fail
    EXPECT_THROW(run.CheckNow(false), EResultFileError);
    EXPECT_FALSE(run.Checking);
    EXPECT_THAT(view.states, ElementsAre(true, false));
    EXPECT_THAT(Statuses(), ElementsAre("OK"));
}

// The proxy variables are read once, when a run starts, and hold for all of its rows; the next
// run reads them afresh.
TEST_F(CheckRunTest, ProxiesAreReadOncePerRun) {
    Rows({"a", "b"});
    testsupport::ScopedEnv proxy("all_proxy", "socks5h://127.0.0.1:1");
    On("a").during = [] { setenv("all_proxy", "http://127.0.0.1:2", 1); };
    On("b");
    run.CheckNow(false);
    run.CheckNow(false);
    EXPECT_THAT(client.proxiesSeen, ElementsAre("socks5h://127.0.0.1:1", "http://127.0.0.1:2"));
}
