#include "HttpRelocation.h"

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

std::string Origin(const TUrlParts& parts) {
    std::string origin =
        (parts.Proto.empty() ? std::string("http") : parts.Proto) + "://" + parts.Host;
    if (!parts.Port.empty())
        origin += ":" + parts.Port;
    return origin;
}

bool IsAbsolute(const TUrlParts& v) {
    return !v.Proto.empty() && !v.Host.empty();
}

// "http:/path": a scheme and a rooted path, no host.
bool IsSchemeAndPath(const TUrlParts& v) {
    return !v.Proto.empty() && v.Host.empty() && !v.Path.empty();
}

void RelocateDirect(TRequestAddress& a, std::string_view location) {
    if (!location.empty() && location[0] == '/') {
        a.RequestPath = location;
        a.Location = "http://" + a.ConnectHost + std::string(location);
        return;
    }
    const TUrlParts v = ParseURL(location);
    if (IsAbsolute(v)) {
        a.ConnectHost = a.TargetHost = v.Host;
        if (!v.Port.empty())
            a.ConnectPort = v.Port;
        a.RequestPath = v.Path.empty() ? "/" : v.Path;
        a.Location = v.Proto + "://" + v.Host + v.Path;
        return;
    }
    a.RequestPath = IsSchemeAndPath(v) ? v.Path : ResolveRelativePath(a.RequestPath, location);
    a.ConnectHost = a.TargetHost;
    a.Location = "http://" + a.TargetHost + a.RequestPath;
}

void RelocateViaProxy(TRequestAddress& a, std::string_view location) {
    const TUrlParts current = ParseURL(a.RequestPath);
    const TUrlParts v = ParseURL(location);
    std::string next;
    if (IsAbsolute(v)) {
        next = Origin(v) + (v.Path.empty() ? "/" : v.Path);
        a.TargetHost = v.Host;
    } else if (!location.empty() && location[0] == '/') {
        next = Origin(current) + std::string(location);
    } else if (IsSchemeAndPath(v)) {
        next = Origin(current) + v.Path;
    } else {
        next = Origin(current) +
               ResolveRelativePath(current.Path.empty() ? "/" : current.Path, location);
    }
    a.RequestPath = a.Location = next;
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

void ApplyRelocation(TRequestAddress& address, std::string_view location, bool viaProxy) {
    if (viaProxy)
        RelocateViaProxy(address, location);
    else
        RelocateDirect(address, location);
}

}  // namespace http
