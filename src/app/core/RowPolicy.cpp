#include "RowPolicy.h"

#include <charconv>
#include <optional>
#include <string_view>

#include "LastModified.h"
#include "RowText.h"
#include "sys/AsciiText.h"

namespace {

constexpr std::string_view kLastModified = "Last-Modified:";
constexpr std::string_view kRetryAfter = "retry-after:";

bool Alive(const TAnswer& answer) {
    return !answer.Aborted && answer.StatusCode > 0 && answer.StatusCode < 400;
}

// The server refused the request itself (a status of 400 or more).
bool Refused(const TAnswer& answer) {
    return answer.ServerAnswered && answer.StatusCode >= 400;
}

// The whole number of seconds of a Retry-After value, nullopt for a date or anything else.
std::optional<int> Seconds(std::string_view value) {
    const auto first = value.find_first_not_of(' ');
    const auto last = value.find_last_not_of(' ');
    if (first == std::string_view::npos)
        return std::nullopt;
    value = value.substr(first, last - first + 1);
    int seconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (error != std::errc() || end != value.data() + value.size() || seconds < 0)
        return std::nullopt;
    return seconds;
}

// Seconds to wait before asking once more, for a 429 or 503 whose Retry-After names at most
// kMaxRetryAfter; nullopt for every other answer.
std::optional<int> RetryAfter(const TAnswer& answer) {
    if (!answer.ServerAnswered || (answer.StatusCode != 429 && answer.StatusCode != 503))
        return std::nullopt;
    std::optional<int> seconds;
    for (const std::string& line : answer.HeaderLines)
        if (sys::LowerAscii(std::string_view(line).substr(0, kRetryAfter.size())) == kRetryAfter)
            seconds = Seconds(std::string_view(line).substr(kRetryAfter.size()));
    if (seconds && *seconds > kMaxRetryAfter)
        return std::nullopt;
    return seconds;
}

void AddAnswer(const TAnswer& answer, TRowOutcome& outcome) {
    outcome.log.reserve(outcome.log.size() + 1 + answer.HeaderLines.size());
    outcome.log.push_back("StatusCode = " + std::to_string(answer.StatusCode));
    outcome.datum = rowtext::kOk;
    for (const std::string& line : answer.HeaderLines) {
        outcome.log.push_back(line);
        if (std::string_view(line).substr(0, kLastModified.size()) == kLastModified)
            outcome.datum = LastModifiedDateText(line);
    }
}

void AddFailure(const TAnswer& answer, TAsk ask, TRowOutcome& outcome) {
    outcome.datum = answer.Aborted ? rowtext::kUnchecked : rowtext::kFailed;
    outcome.log.push_back(ask == TAsk::Head ? "HEAD Failed !" : "GET Failed !");
    outcome.log.push_back("StatusCode   = " + std::to_string(answer.StatusCode));
    outcome.log.push_back("ReasonPhrase = " + answer.ReasonPhrase);
}

}  // namespace

TAnswer AnswerOf(const ICheckResult& result, bool aborted) {
    return {aborted, result.ServerAnswered(), result.StatusCode(), result.ReasonPhrase(),
            result.ResponseHeaderLines()};
}

void JudgeAnswer(const TAnswer& answer, TAsk ask, TRowOutcome& outcome) {
    if (Alive(answer))
        AddAnswer(answer, outcome);
    else
        AddFailure(answer, ask, outcome);
}

TNextStep NextStep(const TAnswer& answer, TAsk ask, bool mayWait) {
    if (Alive(answer) || answer.Aborted)
        return {};
    if (mayWait)
        if (const auto seconds = RetryAfter(answer))
            return {TNextStep::TKind::AskAgainLater, *seconds};
    // Some servers refuse HEAD alone (405, 501, or a 403/404 for HEAD only): a live page must
    // not end up FAILED, and so be deleted, for it. A dead one costs one request more.
    if (ask == TAsk::Head && Refused(answer))
        return {TNextStep::TKind::AskWithGet, 0};
    return {};
}

std::string TryingAgainLine(int seconds) {
    return "Trying again in " + std::to_string(seconds) + " s";
}
