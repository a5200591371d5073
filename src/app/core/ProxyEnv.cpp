#include "ProxyEnv.h"

#include <cstdlib>
#include <string_view>

#include "http/HttpProt.h"
#include "http/HttpUrl.h"
#include "sys/AsciiText.h"

namespace {

// Curl's default port for a proxy address that names none.
constexpr const char* kDefaultProxyPort = "1080";

// The first of the two that is set and not empty.
std::string Either(const char* lower, const char* upper) {
    if (lower && *lower)
        return lower;
    if (upper && *upper)
        return upper;
    return {};
}

// An entry matches the host itself and every name below it ("example.com" and ".example.com"
// both match "www.example.com"); "*" matches every host.
bool Bypassed(const std::string& noProxy, const std::string& host) {
    const std::string name = sys::LowerAscii(host);
    std::size_t start = 0;
    while (start <= noProxy.size()) {
        const std::size_t comma = noProxy.find(',', start);
        std::string entry = sys::LowerAscii(sys::TrimBlanks(noProxy.substr(start, comma - start)));
        start = comma == std::string::npos ? noProxy.size() + 1 : comma + 1;
        if (entry == "*")
            return true;
        if (!entry.empty() && entry.front() == '.')
            entry.erase(0, 1);
        if (entry.empty())
            continue;
        if (name == entry || (name.size() > entry.size() && name.ends_with(entry) &&
                              name[name.size() - entry.size() - 1] == '.'))
            return true;
    }
    return false;
}

TProxyRoute RouteOf(const std::string& proxy) {
    TProxyRoute route;
    const std::string text = sys::TrimBlanks(proxy);
    const auto scheme = text.find("://");
    const std::string kind =
        scheme == std::string::npos ? "http" : sys::LowerAscii(text.substr(0, scheme));
    const http::TUrlParts parts = http::ParseURL(
        scheme == std::string::npos ? "http://" + text : "http" + text.substr(scheme));
    if (parts.Host.empty())
        return route;
    if (kind == "http") {
        route.Kind = TProxyRoute::TKind::Http;
    } else if (kind == "socks4" || kind == "socks4a" || kind == "socks5" || kind == "socks5h") {
        route.Kind = TProxyRoute::TKind::Socks;
        route.SocksLevel = kind == "socks4" ? "4" : kind == "socks4a" ? "4A" : "5";
        route.RemoteLookup = kind == "socks4a" || kind == "socks5h";
    } else {
        return route;  // a kind of proxy this program does not speak: direct
    }
    route.Host = parts.Host;
    route.Port = parts.Port.empty() ? kDefaultProxyPort : parts.Port;
    // User and password may carry %-escapes (of "@" or ":", say).
    route.User = http::PercentDecoded(parts.User);
    route.Password = http::PercentDecoded(parts.Pass);
    return route;
}

}  // namespace

TProxyEnv TProxyEnv::FromEnvironment() {
    // Like curl, http_proxy only in lower case: a CGI program sees HTTP_PROXY from a request.
    return {Either(std::getenv("http_proxy"), nullptr),
            Either(std::getenv("https_proxy"), std::getenv("HTTPS_PROXY")),
            Either(std::getenv("all_proxy"), std::getenv("ALL_PROXY")),
            Either(std::getenv("no_proxy"), std::getenv("NO_PROXY"))};
}

TProxyRoute ChooseProxy(const TProxyEnv& env, const std::string& url) {
    if (env.HttpProxy.empty() && env.HttpsProxy.empty() && env.AllProxy.empty())
        return {};  // the usual case: no address to take apart for it
    const http::TUrlParts target = http::ParseURL(url);
    if (Bypassed(env.NoProxy, target.Host))
        return {};
    const bool https = sys::LowerAscii(target.Proto) == "https";
    const std::string& own = https ? env.HttpsProxy : env.HttpProxy;
    return RouteOf(own.empty() ? env.AllProxy : own);
}

void ApplyProxyRoute(THttpCli& client, const TProxyRoute& route) {
    const bool http = route.Kind == TProxyRoute::TKind::Http;
    const bool socks = route.Kind == TProxyRoute::TKind::Socks;
    client.SetProxy(http ? route.Host : "");
    client.SetProxyPort(http ? route.Port : "80");
    client.SetProxyUsername(http ? route.User : "");
    client.SetProxyPassword(http ? route.Password : "");
    client.SetSocksServer(socks ? route.Host : "");
    client.SetSocksPort(socks ? route.Port : kDefaultProxyPort);
    client.SetSocksLevel(socks ? route.SocksLevel : "5");
    client.SetSocksUsercode(socks ? route.User : "");
    client.SetSocksPassword(socks ? route.Password : "");
    client.SetSocksRemoteLookup(!socks || route.RemoteLookup);
}
