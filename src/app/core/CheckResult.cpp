#include "CheckResult.h"

#include <charconv>
#include <string_view>

#include "LastModified.h"
#include "sys/AsciiText.h"

namespace {

constexpr std::string_view kLastModified = "last-modified:";
constexpr std::string_view kRetryAfter = "retry-after:";

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

// Follows the datum through the lines of a request's answers: each status line starts a new
// answer, so that only the last answer's "Last-Modified:" (in any letter case, as servers and
// proxies write it) gives the date, not one of a relocation or an interim answer before it.
void NoteHeaderLine(std::string_view line, std::string& datum) {
    if (line.starts_with("HTTP/"))
        datum = "OK";
    else if (sys::LowerAscii(line.substr(0, kLastModified.size())) == kLastModified)
        datum = LastModifiedDateText(line);
}

}  // namespace

bool AddAnswer(const ICheckResult& result, TRowOutcome& outcome) {
    if (result.StatusCode() <= 0)
        return false;
    const std::vector<std::string>& lines = result.ResponseHeaderLines();
    outcome.log.reserve(outcome.log.size() + 1 + lines.size());
    outcome.log.push_back("StatusCode = " + std::to_string(result.StatusCode()));
    outcome.datum = "OK";
    for (const std::string& line : lines) {
        outcome.log.push_back(line);
        NoteHeaderLine(line, outcome.datum);
    }
    return true;
}

void AddFailure(const ICheckResult& result, const char* label, TRowOutcome& outcome) {
    outcome.log.push_back(label);
    outcome.log.push_back("StatusCode   = " + std::to_string(result.StatusCode()));
    outcome.log.push_back("ReasonPhrase = " + result.ReasonPhrase());
}

bool Refused(const ICheckResult& result) {
    return result.ServerAnswered() && result.StatusCode() >= 400;
}

std::optional<int> RetryAfter(const ICheckResult& result, int maxSeconds) {
    const int status = result.StatusCode();
    if (!result.ServerAnswered() || (status != 429 && status != 503))
        return std::nullopt;
    std::optional<int> seconds;
    for (const std::string& line : result.ResponseHeaderLines())
        if (sys::LowerAscii(std::string_view(line).substr(0, kRetryAfter.size())) == kRetryAfter)
            seconds = Seconds(std::string_view(line).substr(kRetryAfter.size()));
    if (seconds && *seconds > maxSeconds)
        return std::nullopt;
    return seconds;
}
