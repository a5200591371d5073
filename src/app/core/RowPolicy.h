// How a check request's outcome becomes a row's text and its log lines, and what the row's run
// does next. The run with one request at a time and the run with several both judge through
// these, so that a row and its log read the same whichever way it was checked. Pure functions:
// the outcome comes in as plain values.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "CheckInterfaces.h"

// One finished request, as its client left it.
struct TAnswer {
    bool Aborted = false;         // the user ended it
    bool ServerAnswered = false;  // the server's own answer, not a local failure
    int StatusCode = 0;           // 0 when no status line came
    std::string ReasonPhrase;
    std::span<const std::string> HeaderLines;  // the answer's lines, status line first
    bool ConnectionLost = false;  // reset or closed before an answer: worth one more try
    std::string FinalUrl{};       // where the request ended, after relocations
};

// The answer of a client's last request; aborted is the run's say, since a client cannot tell
// an abort from the user apart from its own.
TAnswer AnswerOf(const ICheckResult& result, bool aborted);

// Which request of a row an answer is for.
enum class TAsk { Head, HeaderGet };

// A row's verdict and the lines its check adds to the log, in order, and its report, which
// every judgement below brings up to date.
struct TRowOutcome {
    std::string datum;
    std::vector<std::string> log;
    TRowReport report;
    // An outcome is made when its row's check begins; the report's time counts from there.
    std::chrono::steady_clock::time_point begun = std::chrono::steady_clock::now();
};

// Appends one request's block to the row's log and sets its verdict. An answer from 1 to 399:
// "StatusCode = ", every header line, and "OK" or the date of the last Last-Modified line. A
// login (401, 407), a rate limit (429) or a bot challenge (403 with a challenge header):
// "<method> Blocked !", the status, the reason and why, and "BLOCKED". Anything else (a status
// of 400 or more, no status at all, an abort): "<method> Failed !", "StatusCode   = ",
// "ReasonPhrase = ", and "FAILED" ("???" after an abort).
void JudgeAnswer(const TAnswer& answer, TAsk ask, TRowOutcome& outcome);

// What a row's run does after a request.
struct TNextStep {
    enum class TKind { Done, AskWithGet, AskAgainLater };
    TKind Kind = TKind::Done;
    // For AskAgainLater: the wait the server named, else the run's own retry delay.
    std::optional<int> Seconds;
    // The server asked to be left alone (429, 503): one request at a time from now on.
    bool SlowDown = false;
};

// A server's Retry-After is waited for when it names at most this many seconds.
inline constexpr int kMaxRetryAfter = 30;

// After a request: a refused HEAD is asked with GET at once; a 5xx answer, a lost connection or
// a 429 is asked once more later (mayWait: the row has not been asked again yet); a login, a
// challenge and everything else are done.
TNextStep NextStep(const TAnswer& answer, TAsk ask, bool mayWait);

// The wait before a row is asked again: the server's own, else the run's delay.
std::chrono::milliseconds RetryWait(const TNextStep& next, std::chrono::milliseconds delay);

// Log lines of the steps between two requests of one row.
inline constexpr const char* kTryingGet = "Trying GET";
std::string RetryLine(std::chrono::milliseconds wait);

// What an address is before any request.
enum class TAddressKind {
    Web,        // http, https, or no scheme at all (asked as http)
    LocalFile,  // file: looked up on this machine
    NotWeb,     // any other scheme: no check can judge it
};
TAddressKind KindOfAddress(std::string_view url);
// The scheme of an address, without the colon; empty when it has none.
std::string SchemeOf(std::string_view url);
// The path of a file: address, %-escapes decoded ("file:///home/a%20b" is "/home/a b").
std::string FilePathOf(std::string_view url);

// The verdict of an address that is no web page: "SKIPPED" with the line that says why.
void JudgeNotWeb(std::string_view url, TRowOutcome& outcome);
// The verdict of a file: address whose path exists or not (error: why not).
void JudgeLocalFile(const std::string& path, bool exists, const std::string& error,
                    TRowOutcome& outcome);
