// The check run with several rows in flight, over the real HTTP client against loopback servers:
// the log reads as the one-by-one run of the same answers, the per-host limit holds, the buttons
// act on every row in flight, and a server that asks to wait is asked again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CountingServer.h"
#include "ScriptedServer.h"
#include "app/core/CheckRun.h"
#include "app/core/HttpCheckClient.h"
#include "app/core/HttpCheckRequest.h"

namespace {

using testing::ElementsAre;
using testsupport::ScriptedServer;
using testsupport::TScript;
using namespace std::chrono_literals;

const std::string kDated =
    "HTTP/1.0 200 OK\r\nLast-Modified: Wed, 09 Oct 2002 10:10:10 GMT\r\n\r\n";

class View : public ICheckRunView {
  public:
    std::vector<std::string> log;
    std::vector<bool> states;
    std::vector<int> progress;
    std::string lastCount;  // "done/total"
    std::function<void(const std::string&)> onLog;
    void Log(const std::string& line) override {
        log.push_back(line);
        if (onLog)
            onLog(line);
    }
    void RunStateChanged(bool checking) override { states.push_back(checking); }
    void Progress(int percent) override { progress.push_back(percent); }
    void RowsDone(std::size_t done, std::size_t total) override {
        lastCount = std::to_string(done) + "/" + std::to_string(total);
    }
};

class ParallelCheckTest : public testing::Test {
  protected:
    TFavoriteList list;
    THttpCli http;
    THttpCheckClient client{http};
    View view;
    int saves = 0;
    TCheckRun run{list, client, view, [this] { ++saves; }};

    ParallelCheckTest() {
        ConfigureCheckClient(http);
        http.SetTimeout(8);
        run.RetryDelay = std::chrono::milliseconds(1);
    }

    void Rows(const std::vector<std::string>& urls) {
        list.Clear();
        for (std::size_t i = 0; i < urls.size(); ++i) {
            TFavoriteRow row;
            row.Name = "r" + std::to_string(i);
            row.URL = urls[i];
            row.Datei = "/fav/r" + std::to_string(i) + ".url";
            row.Datum = "earlier";
            list.Append(row);
        }
    }
    std::vector<std::string> Statuses() const {
        std::vector<std::string> statuses;
        for (const auto& row : list.Rows())
            statuses.push_back(row.Datum);
        return statuses;
    }
    void Jobs(int jobs) { run.SetJobs(jobs, HttpCheckRequests(8)); }
};

// Answers of every kind, the first one slow so that the later ones end first.
std::vector<std::unique_ptr<ScriptedServer>> Servers() {
    std::vector<std::unique_ptr<ScriptedServer>> servers;
    const std::vector<TScript> scripts = {
        TScript().ReadRequest().Delay(300ms).Send(kDated),
        TScript::Answer("HTTP/1.0 200 OK\r\nServer: fast\r\n\r\n"),
        TScript::Answer("HTTP/1.0 404 Not Found\r\n\r\n"),
        TScript().ReadRequest().Reset(),
        TScript::Answer("HTTP/1.1 301 Moved\r\nLocation: /next\r\n\r\n"),
    };
    for (const TScript& script : scripts)
        servers.push_back(std::make_unique<ScriptedServer>(script));
    return servers;
}

TEST_F(ParallelCheckTest, LogReadsAsTheOneByOneRunWhileAnswersComeOutOfOrder) {
    std::vector<std::vector<std::string>> logs, statuses;
    for (int jobs : {1, 8}) {
        SCOPED_TRACE("jobs " + std::to_string(jobs));
        auto servers = Servers();
        std::vector<std::string> urls;
        for (const auto& server : servers)
            urls.push_back(server->Url("/p"));
        urls.insert(urls.begin() + 2, "mailto:someone@example.com");  // no request at all
        Rows(urls);
        view = View();
        Jobs(jobs);
        run.CheckNow(false);
        logs.push_back(view.log);
        statuses.push_back(Statuses());
        EXPECT_THAT(view.states, ElementsAre(true, false));
        EXPECT_EQ(view.progress.back(), 100);
        EXPECT_EQ(view.lastCount, std::to_string(urls.size()) + "/" + std::to_string(urls.size()));
    }
    EXPECT_EQ(logs[1], logs[0]);
    EXPECT_EQ(statuses[1], statuses[0]);
    EXPECT_THAT(statuses[0], ElementsAre("2002/10/09; 10:10:10 GMT", "OK", "SKIPPED", "FAILED",
                                         "FAILED", "FAILED"));
    EXPECT_EQ(saves, 2);
}

// Calls fn with every row change.
class RowWatcher : public TFavoriteListObserver {
  public:
    explicit RowWatcher(std::function<void(std::size_t)> fn) : fn_(std::move(fn)) {}
    void RowsChanged(std::size_t first, std::size_t) override { fn_(first); }

  private:
    std::function<void(std::size_t)> fn_;
};

TEST_F(ParallelCheckTest, RowsInFlightShowCheckingAndTheirVerdictAsSoonAsTheyEnd) {
    ScriptedServer slow(TScript().ReadRequest().Delay(500ms).Send(kDated));
    ScriptedServer fast(TScript::Answer(kDated));
    Rows({slow.Url("/slow"), fast.Url("/fast")});
    std::vector<std::string> whenFastDone;
    RowWatcher watcher([&](std::size_t row) {
        if (row == 1 && list[1].Datum != "CHECKING..." && whenFastDone.empty())
            whenFastDone = Statuses();
    });
    list.SetObserver(&watcher);
    Jobs(4);
    run.CheckNow(false);
    list.SetObserver(nullptr);
    EXPECT_THAT(whenFastDone, ElementsAre("CHECKING...", "2002/10/09; 10:10:10 GMT"));
}

TEST_F(ParallelCheckTest, AtMostTwoRequestsGoToOneHostAtATime) {
    testsupport::CountingServer server("HTTP/1.0 200 OK\r\n\r\n", 100ms);
    std::vector<std::string> urls;
    for (int i = 0; i < 8; ++i)
        urls.push_back(server.Url("/p" + std::to_string(i)));
    Rows(urls);
    Jobs(16);
    run.CheckNow(false);
    EXPECT_EQ(server.Answered(), 8);
    EXPECT_EQ(server.MostAtOnce(), 2);
    EXPECT_THAT(Statuses(), testing::Each(std::string("OK")));
}

// A host whose two requests hang holds only its own rows: a row of another host starts at once,
// however many rows of the busy host come before it, and its log block waits for theirs.
TEST_F(ParallelCheckTest, ABusyHostDoesNotHoldTheRowsOfOthers) {
    testsupport::CountingServer busy("HTTP/1.0 200 OK\r\n\r\n", 1s);
    ScriptedServer other(TScript::Answer(kDated));
    std::vector<std::string> urls;
    for (int i = 0; i < 300; ++i)
        urls.push_back(busy.Url("/p" + std::to_string(i)));
    urls.push_back(other.Url("/other"));
    Rows(urls);
    int busyAnsweredWhenOtherEnded = -1;
    RowWatcher watcher([&](std::size_t row) {
        if (row == 300 && list[300].Datum != "CHECKING..." && busyAnsweredWhenOtherEnded < 0) {
            busyAnsweredWhenOtherEnded = busy.Answered();
            run.Break();
        }
    });
    list.SetObserver(&watcher);
    Jobs(8);
    run.CheckNow(false);
    list.SetObserver(nullptr);
    EXPECT_EQ(busyAnsweredWhenOtherEnded, 0);
    EXPECT_EQ(list[300].Datum, "2002/10/09; 10:10:10 GMT");
    EXPECT_EQ(list[0].Datum, "???");
}

// "Diese Überprüfung Abbrechen" ends every row in flight and the run goes on; "Abbrechen" ends
// them and starts no more. Either way the end steps run once.
TEST_F(ParallelCheckTest, ButtonsActOnEveryRowInFlight) {
    for (bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "Abbrechen" : "Diese Überprüfung Abbrechen");
        view = View();
        saves = 0;
        // The click comes once all three hanging rows have been asked: each server tells the
        // loop when its request is in.
        int asked = 0;
        const sys::HWND button = sys::AllocateHWnd([&](sys::TMessage&) {
            if (++asked == 3)
                stop ? run.Break() : run.AbortCurrent();
        });
        const TScript hang = TScript()
                                 .ReadRequest()
                                 .Call([button] { sys::PostMessage(button, sys::WM_USER, 0, 0); })
                                 .Hang();
        std::vector<std::unique_ptr<ScriptedServer>> servers;
        std::vector<std::string> urls;
        for (int i = 0; i < 3; ++i) {
            servers.push_back(std::make_unique<ScriptedServer>(hang));
            urls.push_back(servers.back()->Url("/hang"));
        }
        ScriptedServer later(TScript::Answer(kDated));
        urls.push_back(later.Url("/later"));
        Rows(urls);
        Jobs(3);
        run.CheckNow(false);
        sys::DeallocateHWnd(button);

        EXPECT_EQ(asked, 3);
        const std::string last = stop ? "earlier" : "2002/10/09; 10:10:10 GMT";
        EXPECT_THAT(Statuses(), ElementsAre("???", "???", "???", last));
        EXPECT_THAT(view.states, ElementsAre(true, false));
        EXPECT_EQ(saves, 1);
        EXPECT_EQ(later.Connections(), stop ? 0 : 1);
        EXPECT_EQ(std::count(view.log.begin(), view.log.end(),
                             "ReasonPhrase = Connection aborted on request"),
                  3);
    }
}

TEST_F(ParallelCheckTest, AServerThatAsksToWaitIsAskedAgain) {
    ScriptedServer server(
        {TScript::Answer("HTTP/1.1 429 Too Many Requests\r\nRetry-After: 1\r\n\r\n"),
         TScript::Answer(kDated)});
    Rows({server.Url("/busy")});
    Jobs(4);
    run.CheckNow(false);
    EXPECT_THAT(Statuses(), ElementsAre("2002/10/09; 10:10:10 GMT"));
    EXPECT_THAT(view.log, ElementsAre("HEAD Blocked !", "StatusCode   = 429",
                                      "ReasonPhrase = Too Many Requests",
                                      "Blocked: the server limits the rate of requests",
                                      "Trying again in 1 s", "StatusCode = 200", "HTTP/1.0 200 OK",
                                      "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT"));
    EXPECT_EQ(server.Connections(), 2);
}

TEST_F(ParallelCheckTest, ALongWaitIsAFailureAndASecondRateLimitIsBlocked) {
    ScriptedServer longWait(
        TScript::Answer("HTTP/1.1 503 Service Unavailable\r\nRetry-After: 3600\r\n\r\n"));
    ScriptedServer twice(
        TScript::Answer("HTTP/1.1 429 Too Many Requests\r\nRetry-After: 0\r\n\r\n"));
    Rows({longWait.Url("/"), twice.Url("/")});
    Jobs(4);
    run.CheckNow(false);
    EXPECT_THAT(Statuses(), ElementsAre("FAILED", "BLOCKED"));
    // The long wait is not taken, nor is the server asked again sooner: HEAD, then GET. The
    // short one is asked once more; a rate limit answers GET no differently.
    EXPECT_EQ(longWait.Connections(), 2);
    EXPECT_EQ(twice.Connections(), 2);
}

}  // namespace
