// How a check request's outcome becomes a row's text and its log lines, and what the row's run
// does next. The run with one request at a time and the run with several both judge through
// these, so that a row and its log read the same whichever way it was checked. Pure functions:
// the outcome comes in as plain values.
#pragma once

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
};

// The answer of a client's last request; aborted is the run's say, since a client cannot tell
// an abort from the user apart from its own.
TAnswer AnswerOf(const ICheckResult& result, bool aborted);

// Which request of a row an answer is for.
enum class TAsk { Head, HeaderGet };

// A row's verdict and the lines its check adds to the log, in order.
struct TRowOutcome {
    std::string datum;
    std::vector<std::string> log;
};

// Appends one request's block to the row's log and sets its verdict. An answer from 1 to 399:
// "StatusCode = ", every header line, and "OK" or the date of the last Last-Modified line.
// Anything else (a status of 400 or more, no status at all, an abort): "<method> Failed !",
// "StatusCode   = ", "ReasonPhrase = ", and "FAILED" ("???" after an abort).
void JudgeAnswer(const TAnswer& answer, TAsk ask, TRowOutcome& outcome);

// What a row's run does after a request.
struct TNextStep {
    enum class TKind { Done, AskWithGet, AskAgainLater };
    TKind Kind = TKind::Done;
    int Seconds = 0;  // the wait before AskAgainLater
};

// A server that answered 429 or 503 is asked once more after its Retry-After, when that names
// at most this many seconds.
inline constexpr int kMaxRetryAfter = 30;

// After a request: asked again later when the server said when (only where the run can wait,
// and once per row), asked with GET when it refused HEAD, otherwise done.
TNextStep NextStep(const TAnswer& answer, TAsk ask, bool mayWait);

// Log lines of the steps between two requests of one row.
inline constexpr const char* kTryingGet = "Trying GET";
std::string TryingAgainLine(int seconds);
