// The one rule both check runs judge by: a request's outcome in, the row's text, its log block
// and the run's next step out.
#include <gtest/gtest.h>

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
    int seconds = 0;
};

TAnswer Answered(int status, const char* reason) {
    return {false, true, status, reason, {}};
}

TAnswer Local(int status, const char* reason) {
    return {false, false, status, reason, {}};
}

const std::string kLm = "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT";

std::vector<PolicyCase> Cases() {
    const TAsk head = TAsk::Head, get = TAsk::HeaderGet;
    return {
        {"ok without date",
         Answered(200, "OK"),
         {"HTTP/1.1 200 OK"},
         head,
         true,
         "OK",
         {"StatusCode = 200", "HTTP/1.1 200 OK"},
         TKind::Done},
        {"last of two dates wins",
         Answered(200, "OK"),
         {"HTTP/1.1 200 OK", "Last-Modified: Tue, 01 Jan 2000 00:00:00 GMT", kLm},
         head,
         true,
         "2002/10/09; 10:10:10 GMT",
         {"StatusCode = 200", "HTTP/1.1 200 OK", "Last-Modified: Tue, 01 Jan 2000 00:00:00 GMT",
          kLm},
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
         {"HEAD Failed !", "StatusCode   = 0", "ReasonPhrase = No HTTP answer"},
         TKind::Done},
        {"lookup failure is not asked with GET",
         Local(404, "can't resolve hostname"),
         {},
         head,
         true,
         "FAILED",
         {"HEAD Failed !", "StatusCode   = 404", "ReasonPhrase = can't resolve hostname"},
         TKind::Done},
        {"refused HEAD is asked with GET",
         Answered(405, "Method Not Allowed"),
         {"HTTP/1.1 405 Method Not Allowed"},
         head,
         true,
         "FAILED",
         {"HEAD Failed !", "StatusCode   = 405", "ReasonPhrase = Method Not Allowed"},
         TKind::AskWithGet},
        {"refused GET ends the row",
         Answered(404, "Not Found"),
         {},
         get,
         true,
         "FAILED",
         {"GET Failed !", "StatusCode   = 404", "ReasonPhrase = Not Found"},
         TKind::Done},
        {"abort leaves the row unchecked",
         {true, false, 404, "Connection aborted on request", {}},
         {},
         head,
         true,
         "???",
         {"HEAD Failed !", "StatusCode   = 404", "ReasonPhrase = Connection aborted on request"},
         TKind::Done},
        {"429 with a short wait is asked again",
         Answered(429, "Too Many Requests"),
         {"HTTP/1.1 429 Too Many Requests", "retry-after:  7 "},
         head,
         true,
         "FAILED",
         {"HEAD Failed !", "StatusCode   = 429", "ReasonPhrase = Too Many Requests"},
         TKind::AskAgainLater,
         7},
        {"503 after its one retry goes on to GET",
         Answered(503, "Busy"),
         {"Retry-After: 1"},
         head,
         false,
         "FAILED",
         {"HEAD Failed !", "StatusCode   = 503", "ReasonPhrase = Busy"},
         TKind::AskWithGet},
        {"wait beyond the bound is not waited for",
         Answered(503, "Busy"),
         {"Retry-After: 31"},
         get,
         true,
         "FAILED",
         {"GET Failed !", "StatusCode   = 503", "ReasonPhrase = Busy"},
         TKind::Done},
        {"a date in Retry-After is not waited for",
         Answered(429, "Slow down"),
         {"Retry-After: Wed, 21 Oct 2015 07:28:00 GMT"},
         get,
         true,
         "FAILED",
         {"GET Failed !", "StatusCode   = 429", "ReasonPhrase = Slow down"},
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
