#include "HttpCookies.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "HttpUrl.h"
#include "sys/AsciiText.h"

namespace http {

namespace {

// "name=value" split at its first "=".
struct TPair {
    std::string_view Name;
    std::string_view Value;
    bool HasValue = false;
};

TPair SplitPair(std::string_view text) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos)
        return {sys::TrimmedView(text), {}, false};
    return {sys::TrimmedView(text.substr(0, eq)), sys::TrimmedView(text.substr(eq + 1)), true};
}

// The parts of a header value between ";".
std::vector<std::string_view> Parts(std::string_view value) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0; at <= value.size();) {
        const auto semi = value.find(';', at);
        const auto end = semi == std::string_view::npos ? value.size() : semi;
        parts.push_back(value.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

std::string_view PathOnly(std::string_view path) {
    path = path.substr(0, path.find_first_of("?#"));
    return path.empty() ? std::string_view("/") : path;
}

// The folder of the request path: "/a/b/page" gives "/a/b", "/page" gives "/".
std::string DefaultCookiePath(std::string_view requestPath) {
    const std::string_view path = PathOnly(requestPath);
    const auto slash = path.rfind('/');
    if (!path.starts_with('/') || slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

bool PathMatches(std::string_view cookiePath, std::string_view requestPath) {
    const std::string_view path = PathOnly(requestPath);
    if (!path.starts_with(cookiePath))
        return false;
    return path.size() == cookiePath.size() || cookiePath.ends_with('/') ||
           path[cookiePath.size()] == '/';
}

bool InDomain(std::string_view host, std::string_view domain) {
    return host == domain || (host.size() > domain.size() && host.ends_with(domain) &&
                              host[host.size() - domain.size() - 1] == '.');
}

bool IsAddressLiteral(std::string_view host) {
    return host.find(':') != std::string_view::npos ||
           host.find_first_not_of("0123456789.") == std::string_view::npos;
}

std::optional<long long> Integer(std::string_view text) {
    long long n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return n;
}

}  // namespace

void TCookieJar::Receive(std::string_view setCookie, const TCookieSite& site) {
    if (setCookie.size() > kMaxCookieBytes || HasControlBytes(setCookie))
        return;
    const std::vector<std::string_view> parts = Parts(setCookie);
    const TPair pair = SplitPair(parts.front());
    if (!pair.HasValue || pair.Name.empty())
        return;
    const std::string host = LowerAscii(site.Host);
    TCookie cookie{std::string(pair.Name),
                   std::string(pair.Value),
                   host,
                   false,
                   DefaultCookiePath(site.Path),
                   false};
    bool remove = false;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const TPair attribute = SplitPair(parts[i]);
        const std::string name = LowerAscii(attribute.Name);
        if (name == "domain" && !attribute.Value.empty()) {
            std::string domain = LowerAscii(attribute.Value);
            if (domain.starts_with('.'))
                domain.erase(0, 1);
            // A server may not set cookies for other sites, and an address has no domain.
            if (!InDomain(host, domain) || (domain != host && IsAddressLiteral(host)))
                return;
            cookie.DomainWide = domain != host;
            cookie.Domain = domain;
        } else if (name == "path" && attribute.Value.starts_with('/')) {
            cookie.Path = attribute.Value;
        } else if (name == "secure") {
            cookie.Secure = true;
        } else if (name == "max-age") {
            const auto seconds = Integer(attribute.Value);
            remove = seconds && *seconds <= 0;
        }
    }
    Store(std::move(cookie), remove);
}

void TCookieJar::Store(TCookie cookie, bool remove) {
    const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const TCookie& c) {
        return c.Name == cookie.Name && c.Domain == cookie.Domain && c.Path == cookie.Path;
    });
    if (same != cookies_.end())
        cookies_.erase(same);
    if (!remove && cookies_.size() < kMaxCookies)
        cookies_.push_back(std::move(cookie));
}

bool TCookieJar::Matches(const TCookie& cookie, const TCookieSite& site) {
    const std::string host = LowerAscii(site.Host);
    const bool hostMatches =
        cookie.DomainWide ? InDomain(host, cookie.Domain) : host == cookie.Domain;
    return hostMatches && PathMatches(cookie.Path, site.Path) && (site.Secure || !cookie.Secure);
}

std::string TCookieJar::HeaderFor(const TCookieSite& site) const {
    std::vector<const TCookie*> sent;
    for (const TCookie& cookie : cookies_)
        if (Matches(cookie, site))
            sent.push_back(&cookie);
    std::stable_sort(sent.begin(), sent.end(), [](const TCookie* a, const TCookie* b) {
        return a->Path.size() > b->Path.size();
    });
    std::string header;
    for (const TCookie* cookie : sent) {
        if (!header.empty())
            header += "; ";
        header += cookie->Name + "=" + cookie->Value;
    }
    return header;
}

}  // namespace http
