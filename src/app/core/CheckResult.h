// What a finished request of the check run tells, and how a row's verdict and its log block are
// made from it. The run with one request at a time and the run with several share these, so
// that a row and its log read the same whichever way it was checked.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The results of a client's last request.
class ICheckResult {
  public:
    virtual ~ICheckResult() = default;
    // True when the last request ended with the server's own answer, false when it failed
    // before one (lookup, connect, TLS, time-out, abort, no status line).
    virtual bool ServerAnswered() const = 0;
    virtual int StatusCode() const = 0;
    virtual std::string ReasonPhrase() const = 0;
    // The lines of the last answer (status line included), in arrival order.
    virtual const std::vector<std::string>& ResponseHeaderLines() const = 0;
};

// A row's verdict and the lines its check adds to the log, in order.
struct TRowOutcome {
    std::string datum;
    std::vector<std::string> log;
};

// An answer below 400: "StatusCode = ", every header line, and the verdict "OK" or the date of
// the final answer's Last-Modified line (the name in any letter case). False (nothing added)
// when no status came at all.
bool AddAnswer(const ICheckResult& result, TRowOutcome& outcome);
// The three failure lines under label ("HEAD Failed !").
void AddFailure(const ICheckResult& result, const char* label, TRowOutcome& outcome);
// The server refused the request itself (a status of 400 or more): worth asking with GET.
bool Refused(const ICheckResult& result);
// Seconds to wait before asking once more, for a 429 or 503 whose Retry-After names at most
// maxSeconds; nullopt for every other answer.
std::optional<int> RetryAfter(const ICheckResult& result, int maxSeconds);

// Log lines of the steps between two requests of one row.
inline constexpr const char* kTryingGet = "Trying GET";
