// The one rule both check runs judge by: a request's outcome in, the row's text, its log block
// and the run's next step out.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/core/RowPolicy.h"

namespace {

using TKind = TNextStep::TKind;

struct PolicyCase {
    const char* name;
    TAnswer answer;
    std::vector<std::string> lines;  // the answer's header lines
    TAsk ask;
    bool mayWait;
    std::string datum;
    std::vector<std::string> log;
    TKind next;
    std::optional<int> seconds = std::nullopt;
    bool slowDown = false;
};

TAnswer Answered(int status, const char* reason) {
    return {false, true, status, reason, {}};
}

TAnswer Local(int status, const char* reason) {
    return {false, false, status, reason, {}};
}

const std::string kLm = "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT";

TAnswer Lost(const char* reason) {
    TAnswer answer = Local(404, reason);
    answer.ConnectionLost = true;
    return answer;
}

std::vector<std::string> Failed(const char* label, int status, const std::string& reason) {
    return {label, "StatusCode   = " + std::to_string(status), "ReasonPhrase = " + reason};
}

std::vector<std::string> Blocked(const char* label, int status, const std::string& reason,
                                 const std::string& why) {
    std::vector<std::string> log = Failed(label, status, reason);
    log.push_back("Blocked: " + why);
    return log;
}

std::vector<PolicyCase> Cases() {
    const TAsk head = TAsk::Head, get = TAsk::HeaderGet;
    const char* h = "HEAD Failed !";
    const char* g = "GET Failed !";
    const std::string rate = "the server limits the rate of requests";
    return {
        {"ok without date",
         Answered(200, "OK"),
         {"HTTP/1.1 200 OK"},
         head,
         true,
         "OK",
         {"StatusCode = 200", "HTTP/1.1 200 OK"},
         TKind::Done},
        {"last of two dates wins, in any letter case",
         Answered(200, "OK"),
         {"HTTP/1.1 200 OK", "Last-Modified: Tue, 01 Jan 2000 00:00:00 GMT",
          "last-modified: Wed, 09 Oct 2002 10:10:10 GMT"},
         head,
         true,
         "2002/10/09; 10:10:10 GMT",
         {"StatusCode = 200", "HTTP/1.1 200 OK", "Last-Modified: Tue, 01 Jan 2000 00:00:00 GMT",
          "last-modified: Wed, 09 Oct 2002 10:10:10 GMT"},
         TKind::Done},
        {"relocation chain below 400 is alive",
         Answered(304, "Not Modified"),
         {"HTTP/1.1 301 Moved", "HTTP/1.1 304 Not Modified"},
         head,
         false,
         "OK",
         {"StatusCode = 304", "HTTP/1.1 301 Moved", "HTTP/1.1 304 Not Modified"},
         TKind::Done},
        {"no status line",
         Local(0, "No HTTP answer"),
         {},
         head,
         true,
         "FAILED",
         Failed(h, 0, "No HTTP answer"),
         TKind::Done},
        {"lookup failure is neither asked with GET nor again",
         Local(404, "can't resolve hostname"),
         {},
         head,
         true,
         "FAILED",
         Failed(h, 404, "can't resolve hostname"),
         TKind::Done},
        {"lost connection is asked again once",
         Lost("Connection reset by peer"),
         {},
         head,
         true,
         "FAILED",
         Failed(h, 404, "Connection reset by peer"),
         TKind::AskAgainLater},
        {"lost connection asked again decides",
         Lost("Connection reset by peer"),
         {},
         head,
         false,
         "FAILED",
         Failed(h, 404, "Connection reset by peer"),
         TKind::Done},
        {"refused HEAD is asked with GET",
         Answered(405, "Method Not Allowed"),
         {"HTTP/1.1 405 Method Not Allowed"},
         head,
         true,
         "FAILED",
         Failed(h, 405, "Method Not Allowed"),
         TKind::AskWithGet},
        {"plain 403 is a refusal",
         Answered(403, "Forbidden"),
         {"HTTP/1.1 403 Forbidden"},
         head,
         true,
         "FAILED",
         Failed(h, 403, "Forbidden"),
         TKind::AskWithGet},
        {"refused GET ends the row",
         Answered(404, "Not Found"),
         {},
         get,
         true,
         "FAILED",
         Failed(g, 404, "Not Found"),
         TKind::Done},
        {"abort leaves the row unchecked",
         {true, false, 404, "Connection aborted on request", {}},
         {},
         head,
         true,
         "???",
         Failed(h, 404, "Connection aborted on request"),
         TKind::Done},
        {"login page",
         Answered(401, "Unauthorized"),
         {"HTTP/1.1 401 Unauthorized", "WWW-Authenticate: Basic realm=\"x\""},
         head,
         true,
         "BLOCKED",
         Blocked("HEAD Blocked !", 401, "Unauthorized", "the page asks for a login"),
         TKind::Done},
        {"proxy login",
         Answered(407, "Proxy Authentication Required"),
         {},
         get,
         true,
         "BLOCKED",
         Blocked("GET Blocked !", 407, "Proxy Authentication Required",
                 "the proxy asks for a login"),
         TKind::Done},
        {"bot challenge",
         Answered(403, "Forbidden"),
         {"HTTP/1.1 403 Forbidden", "CF-Mitigated: challenge"},
         head,
         true,
         "BLOCKED",
         Blocked("HEAD Blocked !", 403, "Forbidden", "the server shows a bot challenge"),
         TKind::Done},
        {"429 with a short wait is asked again",
         Answered(429, "Too Many Requests"),
         {"HTTP/1.1 429 Too Many Requests", "retry-after:  7 "},
         head,
         true,
         "BLOCKED",
         Blocked("HEAD Blocked !", 429, "Too Many Requests", rate),
         TKind::AskAgainLater,
         7,
         true},
        {"429 without a wait is asked again after the run's delay",
         Answered(429, "Slow down"),
         {"Retry-After: Wed, 21 Oct 2015 07:28:00 GMT"},
         get,
         true,
         "BLOCKED",
         Blocked("GET Blocked !", 429, "Slow down", rate),
         TKind::AskAgainLater,
         std::nullopt,
         true},
        {"429 beyond the run's wait",
         Answered(429, "Too Many Requests"),
         {"Retry-After: 120"},
         head,
         true,
         "BLOCKED",
         Blocked("HEAD Blocked !", 429, "Too Many Requests", rate),
         TKind::Done},
        {"429 once more",
         Answered(429, "Too Many Requests"),
         {"Retry-After: 1"},
         head,
         false,
         "BLOCKED",
         Blocked("HEAD Blocked !", 429, "Too Many Requests", rate),
         TKind::Done},
        {"503 with a short wait slows its host down",
         Answered(503, "Busy"),
         {"Retry-After: 5"},
         get,
         true,
         "FAILED",
         Failed(g, 503, "Busy"),
         TKind::AskAgainLater,
         5,
         true},
        {"500 to GET is asked again after the run's delay",
         Answered(500, "Oops"),
         {},
         get,
         true,
         "FAILED",
         Failed(g, 500, "Oops"),
         TKind::AskAgainLater},
        {"503 after its one retry goes on to GET",
         Answered(503, "Busy"),
         {"Retry-After: 1"},
         head,
         false,
         "FAILED",
         Failed(h, 503, "Busy"),
         TKind::AskWithGet},
        {"500 to GET asked again decides",
         Answered(500, "Oops"),
         {},
         get,
         false,
         "FAILED",
         Failed(g, 500, "Oops"),
         TKind::Done},
        {"wait beyond the bound is not waited for",
         Answered(503, "Busy"),
         {"Retry-After: 31"},
         get,
         true,
         "FAILED",
         Failed(g, 503, "Busy"),
         TKind::Done},
    };
}

TEST(RowPolicy, OutcomeGivesRowTextLogBlockAndNextStep) {
    for (PolicyCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        c.answer.HeaderLines = c.lines;
        TRowOutcome outcome;
        JudgeAnswer(c.answer, c.ask, outcome);
        EXPECT_EQ(outcome.datum, c.datum);
        EXPECT_EQ(outcome.log, c.log);
        const TNextStep next = NextStep(c.answer, c.ask, c.mayWait);
        EXPECT_EQ(next.Kind, c.next);
        EXPECT_EQ(next.Seconds, c.seconds);
        EXPECT_EQ(next.SlowDown, c.slowDown);
    }
}

// A row asked twice keeps both blocks, and the second answer decides.
TEST(RowPolicy, SecondRequestAppendsAndDecides) {
    TRowOutcome outcome;
    JudgeAnswer(Answered(405, "Not Allowed"), TAsk::Head, outcome);
    outcome.log.push_back(kTryingGet);
    const std::vector<std::string> lines = {"HTTP/1.1 200 OK", kLm};
    TAnswer get = Answered(200, "OK");
    get.HeaderLines = lines;
    JudgeAnswer(get, TAsk::HeaderGet, outcome);
    EXPECT_EQ(outcome.datum, "2002/10/09; 10:10:10 GMT");
    EXPECT_EQ(outcome.log, (std::vector<std::string>{"HEAD Failed !", "StatusCode   = 405",
                                                     "ReasonPhrase = Not Allowed", "Trying GET",
                                                     "StatusCode = 200", "HTTP/1.1 200 OK", kLm}));
}

}  // namespace
