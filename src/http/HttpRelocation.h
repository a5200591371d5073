// Where a relocation ("location" header) sends the next request.
#pragma once

#include <string>
#include <string_view>

namespace http {

// The address fields of a request that a relocation changes.
struct TRequestAddress {
    std::string ConnectHost;  // where the socket connects: the server, or the proxy
    std::string ConnectPort;
    std::string TargetHost;   // the server named in the address, for the "Host: " line
    std::string RequestPath;  // the text of the request line: a path, or with a proxy the
                              // absolute address
    std::string Location;     // the absolute address being requested

    bool operator==(const TRequestAddress&) const = default;
};

// Applies the value of a "location" header to the address.
//
// Without a proxy, a rooted path asks the same host for it, and an address with scheme and
// host moves the connection there (to its port when it names one). Any other value (a file
// name, "dir/page", "../page", "?query") is a reference relative to the current request path
// and is resolved as a browser would.
//
// With a proxy the connection stays with the proxy; the request path is the absolute address,
// resolved the same way against the current one, with its port kept.
void ApplyRelocation(TRequestAddress& address, std::string_view location, bool viaProxy);

// Resolves a relative reference (no scheme, no leading "/") against a request path such as
// "/dir/page?q": "next" gives "/dir/next", "../up" gives "/up", "?x" gives "/dir/page?x".
std::string ResolveRelativePath(std::string_view basePath, std::string_view reference);

}  // namespace http
