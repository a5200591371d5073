// The texts a row's status column holds, spelled in this one place. They are stored as they
// stand in the result file, so a text once written must never change. Any other text in the
// column is a Last-Modified date (LastModified.h).
#pragma once

#include <string_view>

namespace rowtext {

inline constexpr std::string_view kUnchecked = "???";  // never checked, or the check was aborted
inline constexpr std::string_view kChecking = "CHECKING...";
inline constexpr std::string_view kOk = "OK";          // alive, without a Last-Modified date
inline constexpr std::string_view kFailed = "FAILED";  // dead: the only text deleted in bulk
// Not a web address (mailto:, javascript:, ftp:...): no check can judge it.
inline constexpr std::string_view kSkipped = "SKIPPED";
// The server is there but refuses to tell: a login, a rate limit beyond the run's wait, a bot
// challenge.
inline constexpr std::string_view kBlocked = "BLOCKED";

// Rows that hold no verdict: never checked, aborted, or cut off while their check ran.
inline bool IsUnchecked(std::string_view datum) {
    return datum == kUnchecked || datum == kChecking;
}

// What a row's text says, for the views that colour it.
enum class TVerdictKind {
    Plain,    // "???", "CHECKING...": no verdict
    Alive,    // "OK" or a Last-Modified date
    Dead,     // "FAILED"
    Refused,  // "BLOCKED"
    Skipped,  // "SKIPPED"
};

inline TVerdictKind VerdictKindOf(std::string_view datum) {
    if (datum == kFailed)
        return TVerdictKind::Dead;
    if (datum == kBlocked)
        return TVerdictKind::Refused;
    if (datum == kSkipped)
        return TVerdictKind::Skipped;
    if (datum.empty() || IsUnchecked(datum))
        return TVerdictKind::Plain;
    return TVerdictKind::Alive;
}

}  // namespace rowtext
