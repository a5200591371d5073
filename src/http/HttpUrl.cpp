#include "HttpUrl.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "sys/AsciiText.h"

namespace http {

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && LowerAscii(s.substr(0, prefix.size())) == prefix;
}

// Splits "host:port" (or "[v6:addr]:port", whose brackets stay with the host) into its parts.
void SplitHostPort(std::string_view hostPort, TUrlParts& parts) {
    const auto close = hostPort.rfind(']');
    const bool bracketed =
        !hostPort.empty() && hostPort[0] == '[' && close != std::string_view::npos;
    const auto colon = hostPort.find(':', bracketed ? close : 0);
    const auto lastColon = hostPort.rfind(':');
    const auto portColon = bracketed ? colon : lastColon;
    if (portColon == std::string_view::npos) {
        parts.Host = hostPort;
        return;
    }
    parts.Host = hostPort.substr(0, portColon);
    parts.Port = hostPort.substr(portColon + 1);
}

// Splits "user:pass@host:port" into the credential, host and port parts.
void SplitAuthority(std::string_view authority, TUrlParts& parts) {
    const auto at = authority.rfind('@');
    if (at == std::string_view::npos)
        return SplitHostPort(authority, parts);
    SplitHostPort(authority.substr(at + 1), parts);
    const std::string_view credentials = authority.substr(0, at);
    const auto sep = credentials.find(':');
    parts.User = credentials.substr(0, sep);
    if (sep != std::string_view::npos)
        parts.Pass = credentials.substr(sep + 1);
}

bool IsSchemeName(std::string_view s) {
    const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto isSchemeChar = [&](char c) {
        return isAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    };
    if (s.empty() || !isAlpha(s[0]))
        return false;
    for (const char c : s)
        if (!isSchemeChar(c))
            return false;
    return true;
}

// Takes the scheme off url and gives back what follows it up to the host. Gives nothing when
// the address holds no host at all (a rooted path, "http:" with a path): the path is then set.
std::optional<std::string_view> SplitScheme(std::string_view url, TUrlParts& parts) {
    if (url.empty())
        return std::nullopt;
    if (const auto sep = url.find("://");
        sep != std::string_view::npos && IsSchemeName(url.substr(0, sep))) {
        parts.Proto = url.substr(0, sep);
        return url.substr(sep + 3);
    }
    if (url[0] == '/') {
        parts.Proto = "http";
        if (url.size() > 1 && url[1] != '/') {
            parts.Path = url;  // a rooted path without a host
            return std::nullopt;
        }
        return url.substr(std::min<std::size_t>(url.size(), 2));  // "//host/path"
    }
    if (StartsWithNoCase(url, "http:")) {
        parts.Proto = "http";
        if (url.size() > 6 && url[6] != '/') {
            parts.Path = url.substr(5);  // "http:" followed by a rooted path
            return std::nullopt;
        }
        return url.size() > 6 ? url.substr(6) : std::string_view();
    }
    if (StartsWithNoCase(url, "mailto:")) {
        parts.Proto = "mailto";
        return url.substr(url.find(':') + 1);
    }
    return url;
}

// The host part ends where the path, the query or the fragment begins.
void SplitHostAndPath(std::string_view rest, TUrlParts& parts) {
    const auto end = rest.find_first_of("/?#");
    if (end != std::string_view::npos)
        parts.Path = rest.substr(end);
    SplitAuthority(rest.substr(0, end), parts);
}

// A fragment only tells the browser where to scroll, so it never goes to the server. A query
// right after the host ("host?x=1") still asks for the root, which the request line must name.
void TidyPath(std::string& path) {
    if (const auto hash = path.find('#'); hash != std::string::npos)
        path.resize(hash);
    if (!path.empty() && path[0] == '?')
        path.insert(0, 1, '/');
}

}  // namespace

TUrlParts ParseURL(std::string_view url) {
    TUrlParts parts;
    if (const std::optional<std::string_view> rest = SplitScheme(url, parts))
        SplitHostAndPath(*rest, parts);
    TidyPath(parts.Path);
    return parts;
}

std::string DefaultPort(std::string_view scheme) {
    return LowerAscii(scheme) == "https" ? "443" : "80";
}

std::string EncodeRequestTarget(std::string_view target) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size());
    for (const char c : target) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7F) {
            out += c;
            continue;
        }
        out += '%';
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
    }
    return out;
}

bool HasControlBytes(std::string_view s) {
    for (const char c : s) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return true;
    }
    return false;
}

std::string TrimAddress(std::string_view url) {
    const auto blankOrControl = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!url.empty() && blankOrControl(url.front()))
        url.remove_prefix(1);
    while (!url.empty() && blankOrControl(url.back()))
        url.remove_suffix(1);
    std::string out;
    out.reserve(url.size());
    for (const char c : url)
        if (c != '\t' && c != '\n' && c != '\r')
            out += c;
    return out;
}

std::size_t LastPos(std::string_view sub, std::string_view s) {
    if (sub.empty())
        return 0;
    const auto pos = s.rfind(sub);
    return pos == std::string_view::npos ? 0 : pos + 1;
}

void ChangeExt(std::string& name, std::string_view ext) {
    const std::size_t dot = LastPos(".", name);
    if (dot > 0)
        name.resize(dot);
    else
        name += '.';
    name += ext;
}

std::string Base64Encode(std::string_view data) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t v = static_cast<std::uint8_t>(data[i]) << 16 |
                                static_cast<std::uint8_t>(data[i + 1]) << 8 |
                                static_cast<std::uint8_t>(data[i + 2]);
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t left = data.size() - i;
    if (left > 0) {
        std::uint32_t v = static_cast<std::uint8_t>(data[i]) << 16;
        if (left == 2)
            v |= static_cast<std::uint8_t>(data[i + 1]) << 8;
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += left == 2 ? kAlphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

namespace {

struct TCivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// Proleptic Gregorian date of a day count relative to 1 January 1970.
TCivilDate CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2);
    return {year, month, day};
}

constexpr std::int64_t kDaysFrom1899To1970 = 25569;
constexpr std::int64_t kMsPerDay = 86400000;
// Day counts of 1 January 0001 and 31 December 9999.
constexpr double kFirstDay = -693593.0;
constexpr double kLastDay = 2958465.0;

}  // namespace

std::string HttpDateText(double dateTime) {
    if (!std::isfinite(dateTime) || dateTime < kFirstDay || dateTime >= kLastDay + 1.0)
        return {};
    // The whole part is the day; the time is the fraction's size, also before 1899.
    auto days = static_cast<std::int64_t>(std::trunc(dateTime));
    auto ms = static_cast<std::int64_t>(
        std::llround(std::fabs(dateTime - std::trunc(dateTime)) * static_cast<double>(kMsPerDay)));
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        days += dateTime < 0 ? -1 : 1;
    }
    const TCivilDate date = CivilFromDays(days - kDaysFrom1899To1970);
    if (date.year < 1 || date.year > 9999)
        return {};
    static constexpr char kDays[] = "MonTueWedThuFriSatSun";
    static constexpr char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const auto weekday = static_cast<std::size_t>(((days - 2) % 7 + 7) % 7);
    const auto seconds = ms / 1000;
    char text[40];
    std::snprintf(text, sizeof text, "%.3s, %2.2u %.3s %4.4d %2.2d:%2.2d:%2.2d",
                  kDays + weekday * 3, date.day, kMonths + (date.month - 1) * 3,
                  static_cast<int>(date.year), static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

std::string PercentDecoded(std::string_view text) {
    const auto hex = [](char c) {
        c = sys::LowerAscii(c);
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() && text[i] == '%' ? hex(text[i + 1]) : -1;
        const int low = high >= 0 ? hex(text[i + 2]) : -1;
        if (low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace http
