#include "HttpRelocation.h"

#include <utility>
#include <vector>

#include "HttpUrl.h"

namespace http {

namespace {

// Removes "." and ".." segments from an absolute path.
std::string RemoveDotSegments(std::string_view path) {
    std::vector<std::string_view> segments;
    std::size_t at = 1;  // past the leading "/"
    bool trailingSlash = false;
    while (at <= path.size()) {
        const auto next = path.find('/', at);
        const std::string_view segment =
            path.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at);
        const bool last = next == std::string_view::npos;
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
            trailingSlash = last;
        } else if (segment == ".") {
            trailingSlash = last;
        } else {
            segments.push_back(segment);
            trailingSlash = false;
        }
        if (last)
            break;
        at = next + 1;
    }
    std::string out;
    for (std::string_view s : segments) {
        out += '/';
        out += s;
    }
    if (out.empty() || trailingSlash)
        out += '/';
    return out;
}

// The server-side address of a request; every field of TRequestAddress follows from it.
struct TTarget {
    std::string Scheme;  // "http" or "https"
    std::string Host;
    std::string Port;  // never empty
    std::string Path;  // path and query, possibly not yet encoded
};

std::string KnownScheme(std::string_view scheme) {
    return LowerAscii(scheme) == "https" ? "https" : "http";
}

std::string PortOrDefault(std::string_view port, const std::string& scheme) {
    return port.empty() ? DefaultPort(scheme) : std::string(port);
}

TTarget TargetOf(const TUrlParts& parts) {
    const std::string scheme = KnownScheme(parts.Proto);
    return {scheme, parts.Host, PortOrDefault(parts.Port, scheme), parts.Path};
}

TTarget WithPath(TTarget target, std::string path) {
    target.Path = std::move(path);
    return target;
}

// The path and query as a request line carries them: rooted, never empty, encoded.
std::string OriginForm(std::string_view path) {
    path = path.substr(0, path.find('#'));
    std::string rooted;
    rooted.reserve(path.size() + 1);
    if (!path.starts_with('/'))
        rooted += '/';
    rooted += path;
    return EncodeRequestTarget(rooted);
}

// An IPv6 address stands in brackets wherever a port may follow it.
std::string BracketedHost(std::string_view host) {
    if (host.find(':') == std::string_view::npos || host.starts_with('['))
        return std::string(host);
    std::string bracketed = "[";  // not "[" + std::string(...), which GCC 12 warns about
    bracketed += host;
    return bracketed + "]";
}

// "host", with ":port" only when the port is not the scheme's default.
std::string HostWithOwnPort(std::string_view host, std::string_view port, std::string_view scheme) {
    std::string text = BracketedHost(host);
    if (!port.empty() && port != DefaultPort(scheme)) {
        text += ':';
        text += port;
    }
    return text;
}

std::string SchemeAndHost(const TTarget& target) {
    return target.Scheme + "://" + HostWithOwnPort(target.Host, target.Port, target.Scheme);
}

void Fill(TRequestAddress& a, const TTarget& target, bool viaProxy) {
    const std::string origin = OriginForm(target.Path);
    a.Scheme = target.Scheme;
    a.TargetHost = target.Host;
    a.TargetPort = target.Port;
    if (!viaProxy) {
        a.ConnectHost = target.Host;
        a.ConnectPort = target.Port;
    }
    a.Location = SchemeAndHost(target) + origin;
    // A proxy forwarding plain http needs the whole address; a tunnel reaches the server itself.
    a.RequestPath = viaProxy && !Tunnelled(a, viaProxy) ? EncodeRequestTarget(a.Location) : origin;
}

// The path and query of the current request, also when the request line holds the absolute
// address for a proxy.
std::string CurrentPath(const std::string& requestPath) {
    if (requestPath.starts_with('/'))
        return requestPath;
    const std::string path = ParseURL(requestPath).Path;
    return path.empty() ? "/" : path;
}

TTarget CurrentTarget(const TRequestAddress& a, bool viaProxy) {
    const std::string scheme = KnownScheme(a.Scheme);
    // An address that was not set up by StartAddress may lack the server's port; connected
    // directly, the port of the connection is the server's.
    const std::string& port = a.TargetPort.empty() && !viaProxy ? a.ConnectPort : a.TargetPort;
    return {scheme, a.TargetHost, PortOrDefault(port, scheme), CurrentPath(a.RequestPath)};
}

// "//host/path": another host, reached with the scheme of the current request.
TTarget SchemeRelative(const TTarget& current, std::string_view location) {
    const TUrlParts v = ParseURL(location);
    if (v.Host.empty())
        return WithPath(current, v.Path);
    return {current.Scheme, v.Host, PortOrDefault(v.Port, current.Scheme), v.Path};
}

TTarget Resolve(const TTarget& current, std::string_view location) {
    if (location.starts_with("//"))
        return SchemeRelative(current, location);
    if (location.starts_with('/'))
        return WithPath(current, std::string(location));
    const TUrlParts v = ParseURL(location);
    if (!v.Proto.empty() && !v.Host.empty())
        return TargetOf(v);  // its own scheme and port, never the current port
    if (!v.Proto.empty() && !v.Path.empty())
        return WithPath(current, v.Path);  // "http:/path": a rooted path without a host
    return WithPath(current, ResolveRelativePath(current.Path, location));
}

}  // namespace

std::string ResolveRelativePath(std::string_view basePath, std::string_view reference) {
    if (reference.empty())
        return std::string(basePath);
    const std::string_view base = basePath.substr(0, basePath.find('?'));
    if (reference[0] == '?')
        return std::string(base) + std::string(reference);
    const auto query = reference.find('?');
    const std::string_view refPath = reference.substr(0, query);
    const std::string_view refQuery =
        query == std::string_view::npos ? std::string_view() : reference.substr(query);
    const auto slash = base.rfind('/');
    const std::string dir =
        slash == std::string_view::npos ? "/" : std::string(base.substr(0, slash + 1));
    return RemoveDotSegments(dir + std::string(refPath)) + std::string(refQuery);
}

bool StartAddress(TRequestAddress& address, std::string_view url, std::string_view proxyHost,
                  std::string_view proxyPort) {
    const std::string trimmed = TrimAddress(url);
    return StartAddress(address, trimmed, ParseURL(trimmed), proxyHost, proxyPort);
}

bool StartAddress(TRequestAddress& address, std::string_view url, const TUrlParts& parts,
                  std::string_view proxyHost, std::string_view proxyPort) {
    if (HasControlBytes(url))
        return false;
    TRequestAddress next;
    next.ConnectHost = proxyHost;
    next.ConnectPort = proxyPort;
    Fill(next, TargetOf(parts), !proxyHost.empty());
    address = std::move(next);
    return true;
}

bool ApplyRelocation(TRequestAddress& address, std::string_view location, bool viaProxy) {
    const std::string trimmed = TrimAddress(location);
    if (HasControlBytes(trimmed))
        return false;
    const std::string_view withoutFragment = std::string_view(trimmed).substr(0, trimmed.find('#'));
    Fill(address, Resolve(CurrentTarget(address, viaProxy), withoutFragment), viaProxy);
    return true;
}

std::string RequestedPath(const TRequestAddress& address) {
    return CurrentPath(address.RequestPath);
}

std::string HostField(const TRequestAddress& address) {
    return HostWithOwnPort(address.TargetHost, address.TargetPort, address.Scheme);
}

std::string Authority(const TRequestAddress& address) {
    return BracketedHost(address.TargetHost) + ":" + address.TargetPort;
}

bool Tunnelled(const TRequestAddress& address, bool viaProxy) {
    return viaProxy && address.Scheme == "https";
}

}  // namespace http
