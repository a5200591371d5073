#include "RowPolicy.h"

#include <charconv>
#include <string_view>

#include "LastModified.h"
#include "RowText.h"
#include "http/HttpUrl.h"
#include "sys/AsciiText.h"

namespace {

constexpr std::string_view kLastModified = "last-modified:";
constexpr std::string_view kRetryAfter = "retry-after:";

// The value of the last header line named name (lower case, with its colon), blanks trimmed;
// nullopt when there is none. Header names are matched without regard to case.
std::optional<std::string_view> HeaderValue(std::span<const std::string> lines,
                                            std::string_view name) {
    std::optional<std::string_view> value;
    for (const std::string& line : lines) {
        if (sys::LowerAscii(std::string_view(line).substr(0, name.size())) != name)
            continue;
        value = sys::TrimmedView(std::string_view(line).substr(name.size()));
    }
    return value;
}

bool Alive(const TAnswer& answer) {
    return !answer.Aborted && answer.StatusCode > 0 && answer.StatusCode < 400;
}

// The whole number of seconds of a Retry-After value, nullopt for a date or anything else.
std::optional<int> Seconds(std::string_view value) {
    int seconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() || seconds < 0)
        return std::nullopt;
    return seconds;
}

std::optional<int> RetryAfterSeconds(const TAnswer& answer) {
    const auto value = HeaderValue(answer.HeaderLines, kRetryAfter);
    return value ? Seconds(*value) : std::nullopt;
}

// A bot-protection service's challenge page: the server is there, but a program cannot pass.
bool Challenge(const TAnswer& answer) {
    const auto cloudflare = HeaderValue(answer.HeaderLines, "cf-mitigated:");
    const auto aws = HeaderValue(answer.HeaderLines, "x-amzn-waf-action:");
    return (cloudflare && sys::LowerAscii(*cloudflare) == "challenge") ||
           (aws && (sys::LowerAscii(*aws) == "challenge" || sys::LowerAscii(*aws) == "captcha"));
}

// Why a server's refusal only means that it will not tell; nullopt when it is a plain refusal.
std::optional<std::string> BlockedBecause(const TAnswer& answer) {
    if (!answer.ServerAnswered || answer.Aborted)
        return std::nullopt;
    switch (answer.StatusCode) {
        case 401:
            return "the page asks for a login";
        case 407:
            return "the proxy asks for a login";
        case 429:
            return "the server limits the rate of requests";
        case 403:
            if (Challenge(answer))
                return "the server shows a bot challenge";
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

void AddAnswer(const TAnswer& answer, TRowOutcome& outcome) {
    outcome.log.reserve(outcome.log.size() + 1 + answer.HeaderLines.size());
    outcome.log.push_back("StatusCode = " + std::to_string(answer.StatusCode));
    outcome.datum = rowtext::kOk;
    for (const std::string& line : answer.HeaderLines) {
        outcome.log.push_back(line);
        // Each status line starts a new answer: only the final answer's date counts, not one
        // of a relocation or an interim answer before it.
        if (line.starts_with("HTTP/"))
            outcome.datum = rowtext::kOk;
        else if (sys::LowerAscii(std::string_view(line).substr(0, kLastModified.size())) ==
                 kLastModified)
            outcome.datum = LastModifiedDateText(line);
    }
}

void AddRefusal(const TAnswer& answer, const char* label, TRowOutcome& outcome) {
    outcome.log.push_back(label);
    outcome.log.push_back("StatusCode   = " + std::to_string(answer.StatusCode));
    outcome.log.push_back("ReasonPhrase = " + answer.ReasonPhrase);
}

}  // namespace

TAnswer AnswerOf(const ICheckResult& result, bool aborted) {
    return {aborted,
            result.ServerAnswered(),
            result.StatusCode(),
            result.ReasonPhrase(),
            result.ResponseHeaderLines(),
            !aborted && result.ConnectionLost(),
            result.FinalUrl()};
}

namespace {

void Report(TRowOutcome& outcome, std::optional<int> status, std::string reason,
            std::string finalUrl) {
    outcome.report.Status = status;
    outcome.report.Reason = std::move(reason);
    outcome.report.FinalUrl = std::move(finalUrl);
    outcome.report.Took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - outcome.begun);
}

}  // namespace

void JudgeAnswer(const TAnswer& answer, TAsk ask, TRowOutcome& outcome) {
    const bool head = ask == TAsk::Head;
    // A status that came with a local failure (the client's own 404) is no server's answer.
    const bool answered = answer.ServerAnswered && !answer.Aborted && answer.StatusCode > 0;
    Report(outcome, answered ? std::optional<int>(answer.StatusCode) : std::nullopt,
           answer.ReasonPhrase, answer.FinalUrl);
    if (Alive(answer))
        return AddAnswer(answer, outcome);
    if (const auto why = BlockedBecause(answer)) {
        outcome.datum = rowtext::kBlocked;
        AddRefusal(answer, head ? "HEAD Blocked !" : "GET Blocked !", outcome);
        outcome.log.push_back("Blocked: " + *why);
        return;
    }
    outcome.datum = answer.Aborted ? rowtext::kUnchecked : rowtext::kFailed;
    AddRefusal(answer, head ? "HEAD Failed !" : "GET Failed !", outcome);
}

TNextStep NextStep(const TAnswer& answer, TAsk ask, bool mayWait) {
    using TKind = TNextStep::TKind;
    if (Alive(answer) || answer.Aborted)
        return {};
    const int status = answer.ServerAnswered ? answer.StatusCode : 0;
    const std::optional<int> named = RetryAfterSeconds(answer);
    if (status == 429) {
        // A rate limit is waited for once, when the server names no wait or a short one.
        if (!mayWait || (named && *named > kMaxRetryAfter))
            return {};
        return {TKind::AskAgainLater, named, true};
    }
    if (BlockedBecause(answer))
        return {};  // a login or a challenge answers GET the same way
    // Some servers refuse HEAD alone (405, 501, or a 403/404 for HEAD only): a live page must
    // not end up FAILED, and so be deleted, for it. A dead one costs one request more.
    if (ask == TAsk::Head && status >= 400)
        return {TKind::AskWithGet, std::nullopt};
    // A server error or a lost connection may pass: once more a little later, and only that
    // answer decides.
    // A server that names a wait beyond the run's is not asked again sooner.
    if (mayWait && (status >= 500 || answer.ConnectionLost) && !(named && *named > kMaxRetryAfter))
        return {TKind::AskAgainLater, named, status == 503};
    return {};
}

std::chrono::milliseconds RetryWait(const TNextStep& next, std::chrono::milliseconds delay) {
    return next.Seconds ? std::chrono::seconds(*next.Seconds) : delay;
}

std::string RetryLine(std::chrono::milliseconds wait) {
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait).count();
    return "Trying again in " + std::to_string(seconds) + " s";
}

std::string SchemeOf(std::string_view address) {
    const std::string trimmed = http::TrimAddress(address);
    const std::string_view url = trimmed;
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return {};
    const std::string_view scheme = url.substr(0, colon);
    const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!isAlpha(scheme.front()))
        return {};
    for (char c : scheme)
        if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return {};
    // "example.com:8080/page" is a host and a port, as a browser takes it.
    const std::string_view rest = url.substr(colon + 1);
    const auto digits = rest.find_first_not_of("0123456789");
    const bool port = digits != 0 && (digits == std::string_view::npos || rest[digits] == '/');
    if (port &&
        (scheme.find('.') != std::string_view::npos || sys::LowerAscii(scheme) == "localhost"))
        return {};
    return sys::LowerAscii(scheme);
}

TAddressKind KindOfAddress(std::string_view url) {
    const std::string scheme = SchemeOf(url);
    if (scheme.empty() || scheme == "http" || scheme == "https")
        return TAddressKind::Web;
    return scheme == "file" ? TAddressKind::LocalFile : TAddressKind::NotWeb;
}

std::string FilePathOf(std::string_view address) {
    const std::string trimmed = http::TrimAddress(address);
    std::string_view url = trimmed;
    url.remove_prefix(url.find(':') + 1);
    // file://host/path: the local host's name is dropped; another host stays as //host/path,
    // a share that is not mounted here.
    if (url.starts_with("//")) {
        const std::string_view host = url.substr(2, url.find('/', 2) - 2);
        if (host.empty() || sys::LowerAscii(host) == "localhost")
            url.remove_prefix(2 + host.size());
    }
    return http::PercentDecoded(url.substr(0, url.find_first_of("?#")));
}

void JudgeNotWeb(std::string_view url, TRowOutcome& outcome) {
    outcome.datum = rowtext::kSkipped;
    const std::string why = SchemeOf(url) + ": is no web address";
    outcome.log.push_back("Skipped: " + why);
    Report(outcome, std::nullopt, why, std::string(url));
}

void JudgeLocalFile(const std::string& path, bool exists, const std::string& error,
                    TRowOutcome& outcome) {
    outcome.log.push_back("File = " + path);
    if (exists) {
        outcome.datum = rowtext::kOk;
        outcome.log.push_back("File found");
    } else {
        outcome.datum = rowtext::kFailed;
        outcome.log.push_back("File not found: " + error);
    }
    Report(outcome, std::nullopt, outcome.log.back(), {});
}
